#pragma once
// fSeaded, the operator's window for the settings: a tab strip with one page per group, a change
// set that remembers which fields the operator touched, and OK, Apply and Cancel. Opening it writes
// nothing (it only looks settings up); only the changed fields are written back, and not at all
// while a send time is one the scheduler cannot read. It does not block the main window, and opens
// beside it.

#include <QDialog>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class QPushButton;
class QTabBar;
class QFrame;
class QLabel;

namespace tollan {

class Timora;

// Template: a receipt template edited over several lines. Mask: a send time, checked when saved,
// with the time it next fires beside it.
// File: a path, typed or chosen with a file dialog.
enum class FieldKind { Text, Password, List, Check, Template, Mask, File };

// One field of the dialog; its position in the table is its tab index, which addresses its flag in
// the change set.
struct SettingsField {
    const char* name;     // objectName; tSideAjad fields are "tSideAjad" with an index
    FieldKind kind;
    int page;             // 0-based frame
    const char* caption;  // UTF-8
    const char* key;      // the setting it edits; nullptr for a field that no setting reads
    const char* def;      // the default its readers use
    int index;            // element index of an indexed field, else -1
};
std::span<const SettingsField> Settings_Fields();
// The captions of the pages, in tab order (UTF-8).
std::span<const char* const> Settings_Pages();

// "X25\Settings" from its four parts ("9600", "n", "8", "1"), and back; false when the text has
// not four parts.
std::string Settings_ComposeLine(const std::string& speed, const std::string& parity, const std::string& dataBits,
                                 const std::string& stopBits);
bool Settings_SplitLine(const std::string& line, std::string& speed, std::string& parity, std::string& dataBits,
                        std::string& stopBits);

class fSeaded : public QDialog {
    Q_OBJECT
public:
    explicit fSeaded(QWidget* parent = nullptr);

    void SetChanged(int index, bool changed);
    bool IsChanged(int index) const;
    void LoadSettings();
    bool SaveSettings();

    void TabStrip1_Click(int tab);  // 1-based, as the tab strip counts
    void cApply_Click();
    void cOK_Click();
    void cCancel_Click();

    int currentTab() const { return currentTab_; }

signals:
    // Settings were written: whoever holds what they say (the send times) takes them anew.
    void saved();

public:
    QFrame* page(int frame) const;

    // Asks before throwing away changes not yet applied (Escape, "Loobu", the window's close).
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    // Saves the changes and loads the fields again; false, with nothing saved, when a changed send
    // time is refused.
    bool Apply();
    // The index of the first changed field whose value the known settings refuse, with the reason
    // in Estonian, or -1.
    int WrongField(std::string* why) const;
    // Shows page `tab` (1-based) without applying the one shown.
    void ShowPage(int tab);
    void ShowNextTimes();
    void StepTab(int step);
    void PlaceBesideParent();
    QWidget* Field(int index) const;
    std::string Value(int index) const;
    void SetValue(int index, const std::string& value);
    int FieldIndex(const char* name) const;

    std::array<std::uint32_t, 5> changes_{};  // 5 words of 31 flags
    bool loading_ = false;
    bool placed_ = false;
    int currentTab_ = 1;
    QTabBar* TabStrip1_;
    QPushButton* cOK_;
    QPushButton* cApply_;
    QPushButton* cCancel_;
    std::vector<QFrame*> frames_;
    std::vector<QWidget*> fields_;
    std::vector<QLabel*> nextTimes_;  // by field index; nullptr but for the send times
    Timora* Timora1_;                 // never ticks: it only answers NextTime
};

} // namespace tollan
