// The operator's own purchase and cancellation from the main window, through the console, to a card
// centre on loopback and back.
#include "shell/fmain.h"

#include "links/socket.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/msgbox.h"
#include "support/visuals.h"
#include "tests/common/card_centre.h"
#include "tests/common/test_home.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using namespace tollan;
using namespace tollan::test;

namespace {

class Operator : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        UseTestHome(home.path());
        Visual_Clear();
        Cfg_Put("Port", "0");
        Cfg_Put("Console\\Toojaam", "7");
        Cfg_Put("Tollan_Auth_Address", centre.Address());
        centre.onFrame = [this](Centre& c, const std::string& f) {
            requests.push_back(f);
            c.Send(KK_Frame(Type(f.compare(0, 2, Type(400)) == 0 ? 410 : 110) + Verdict0110("A1B2C3", "00")));
        };
        // The operator types what each prompt asks for.
        Ui_SetHeadlessInput([this](std::string_view prompt) {
            prompts.emplace_back(prompt);
            return prompt.starts_with("Kontroll") ? std::string("7899") : cancelKey;
        });
        window = std::make_unique<fMain>();
        window->Form_Load();
        window->printDocument = [this](const std::string& page) {
            pages.push_back(page);
            return true;
        };
    }
    void TearDown() override
    {
        Ui_SetHeadlessInput({});
        window.reset();
        Visual_Clear();
        Db_Database().close();
    }
    template <class T = QWidget> T* Find(const char* name) const { return window->findChild<T*>(name); }
    void Click(const char* button) { Find<QPushButton>(button)->click(); }
    QString Caption(const char* label) const { return Find<QLabel>(label)->text(); }
    int Rows(const char* where)
    {
        QSqlQuery q(Db_Database());
        q.exec(QString("SELECT count(*) FROM Trans WHERE %1").arg(where));
        return q.next() ? q.value(0).toInt() : -1;
    }

    QTemporaryDir home;
    Centre centre;
    std::unique_ptr<fMain> window;
    std::vector<std::string> requests, prompts, pages;
    std::string cancelKey;
};

TEST_F(Operator, APurchaseFromTheWindowIsApprovedStoredAndPrintedAsOnePage)
{
    Find<QLineEdit>("tKaart")->setText("4000001234567899=28121010000012300000");
    Find<QLineEdit>("tSumma")->setText("12.50");
    Click("cTehing");
    ASSERT_TRUE(Clock_WaitUntil([&] { return !pages.empty(); }, 5000));
    EXPECT_EQ(Caption("lTransNr"), "00000001");
    EXPECT_EQ(Cfg_Get("Console\\Trans", ""), "00000001");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(Rows("Toojaam = '00000007' AND Trans = '00000001' AND Amount = 12.5 AND POSCode = 1"), 1);
    ASSERT_EQ(pages.size(), 1u);  // both receipts side by side
    EXPECT_NE(pages[0].find("4000001234567899"), std::string::npos);
    EXPECT_NE(pages[0].find("************7899"), std::string::npos);

    cancelKey = "2";  // the purchase's STAN
    Click("cTyhista");
    ASSERT_TRUE(Clock_WaitUntil([&] { return Rows("Type = 1") == 1; }, 5000));
    EXPECT_EQ(prompts.back(), "Transaktsiooni number?");
    EXPECT_EQ(Cfg_Get("Console\\Trans", ""), "00000002");
}

TEST_F(Operator, WrongInputIsToldInTheConsoleLineAndTakesNoNumber)
{
    struct Case { const char* card; const char* amount; const char* told; };
    const Case cases[] = {
        {"4000001234567899=2812", "", "Mittekorrektne summa!"},
        {"4000001234567899=2812", "-5", "Mittekorrektne summa!"},
        {"4000001234567899=2812", "0.00004", "Mittekorrektne summa!"},   // no hundredth to send
        {"4000001234567899=2812", "0.004", "Mittekorrektne summa!"},
        {"x4000001234567899", "10", "Kaardi number on valel kujul!"},
        {"4000001234567898=2812", "10", "Kaardi kontrollsumma on vale!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.card + std::string(" / ") + c.amount);
        Find<QLineEdit>("tKaart")->setText(c.card);
        Find<QLineEdit>("tSumma")->setText(c.amount);
        Click("cTehing");
        EXPECT_EQ(Caption("lConsole"), c.told);
    }
    cancelKey = "";  // a cancellation without a number does nothing
    Click("cTyhista");
    EXPECT_EQ(Cfg_Get("Console\\Trans", "none"), "none");
    EXPECT_TRUE(requests.empty());
}

} // namespace
