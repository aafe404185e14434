#include "support/registry.h"

#include "support/codepage.h"
#include "support/home.h"
#include "support/text.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <map>

#include <sys/file.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

namespace tollan {

namespace {

struct Handle {
    std::string subkey;
};

// What tells that the file changed on disk: its size, its time, and the file itself (a save by
// another program renames a new file over it). The time alone can miss a change: on many kernels it
// moves in clock ticks of a few milliseconds.
struct FileStampOf {
    qint64 size = -1;
    qint64 timeNs = -1;
    quint64 inode = 0;
    bool operator==(const FileStampOf&) const = default;
};

struct Registry {
    std::vector<RegSection> sections;
    QString loadedPath;
    FileStampOf loaded;
    // The file is there but cannot be read or parsed: every call fails with this code and nothing
    // is saved over the file, which may hold settings that only look lost.
    std::int32_t unreadable = kRegOk;
    std::string unreadableWhy;   // UTF-8
    std::map<RegKey, Handle> handles;
    RegKey nextHandle = 1;
    // The lock file beside the file a save replaces, kept open while that stays the same: each
    // purchase takes the lock to count its trace number on.
    QByteArray lockPath;
    int lockFd = -1;
    int noWait = 0;   // RegNoWait guards alive
};

Registry& State()
{
    static Registry registry;
    return registry;
}

// Every read asks for the path: it is worked out again only when the home folder changes.
QString FilePath()
{
    static QString home, path;
    const QString now = Home_Dir();
    if (path.isEmpty() || now != home) {
        home = now;
        path = Home_File(QStringLiteral("registry.ini"));
    }
    return path;
}

// The file's stamp, -1 and 0 when it is not there. Every setting read asks, so it is one stat call
// (QFileInfo with its local-time conversion took an eighth of the terminal's time in a purchase).
FileStampOf FileStamp(const QString& path)
{
    static QString named;
    static QByteArray encoded;
    if (path != named) {
        named = path;
        encoded = QFile::encodeName(path);
    }
    struct stat st {};
    if (::stat(encoded.constData(), &st) != 0) return {};
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, quint64(st.st_ino)};
}

// The result code of a failed file call.
std::int32_t CodeOf(int cause)
{
    return cause == EACCES || cause == EPERM || cause == EROFS ? kRegAccessDenied : 29;
}

// Re-reads the file when it is not the one read last or it changed on disk since, and always
// while it cannot be read (a change of its rights leaves its stamp as it was).
void Refresh()
{
    Registry& r = State();
    const QString path = FilePath();
    const FileStampOf stamp = FileStamp(path);
    if (path == r.loadedPath && stamp == r.loaded && r.unreadable == kRegOk) return;
    r.sections.clear();
    r.unreadable = kRegOk;
    r.unreadableWhy.clear();
    r.loadedPath = path;
    r.loaded = stamp;
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    if (::stat(encoded.constData(), &st) != 0) {
        if (errno == ENOENT) return;   // not made yet: an empty registry
        r.unreadable = CodeOf(errno);
        r.unreadableWhy = std::strerror(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        r.unreadable = kRegAccessDenied;
        r.unreadableWhy = "not a regular file";
        return;
    }
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.unreadable = CodeOf(errno);
        r.unreadableWhy = std::strerror(errno);
        return;
    }
    std::string data;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            r.unreadable = CodeOf(errno);
            r.unreadableWhy = std::strerror(errno);
            break;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (r.unreadable != kRegOk) return;
    std::string problem;
    r.sections = Reg_Parse(data, &problem);
    if (!problem.empty()) {
        r.sections.clear();
        r.unreadable = kRegCorrupt;
        r.unreadableWhy = problem;
    }
}

RegSection* FindSection(std::string_view path)
{
    for (auto& s : State().sections)
        if (Text_Equal(s.path, path)) return &s;
    return nullptr;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file a save replaces: registry.ini, or the file it links to, which then stays a link.
QByteArray SaveTarget(const QString& path)
{
    QByteArray target = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        if (char* real = ::realpath(target.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    return target;
}

// Writes the whole file atomically with mode 0600: a new file beside the old one, on disk before it
// is renamed over it, so that a crash or a full disk leaves the old registry or the new one, never
// part of either. Returns a registry result code. Every purchase saves its trace number here, so
// it makes the few system calls it needs and no more.
std::int32_t Save(const QByteArray& target)
{
    Registry& r = State();
    const QString path = FilePath();
    const std::string text = Reg_Format(r.sections);
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) {
        const int cause = errno;
        r.loadedPath.clear();  // read the file again next time: memory no longer matches it
        return CodeOf(cause);
    }
    // Saved by root (`sudo tollan config set ...`), the file stays its owner's: a file the
    // terminal's own user could no longer read would stop the terminal.
    struct stat old {};
    if (::geteuid() == 0 && ::stat(target.constData(), &old) == 0 && (old.st_uid != 0 || old.st_gid != 0))
        [[maybe_unused]] const int chowned = ::fchown(fd, old.st_uid, old.st_gid);
    // A write that fails half way (a full disk) must not replace the file with a short one.
    bool written = WriteAll(fd, text) && ::fdatasync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.constData(), target.constData()) != 0) {
        ::unlink(temp.constData());
        r.loadedPath.clear();
        return 29;
    }
    // The rename lasts through a power cut only once the folder is on disk; until then the old
    // file could come back, and with it a trace number counter that was already handed on.
    const QByteArray dir = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    if (const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    r.loadedPath = path;
    r.loaded = FileStamp(path);
    return kRegOk;
}

// How long a write waits for another process's save. A save takes milliseconds; a lock held for
// seconds belongs to a process that is stuck or stopped, and the program's one thread must not
// hang on it: the write fails, is reported, and a purchase is refused before its number goes out.
// Kernel time, not the program's clock: tests that move that clock must not move this bound.
constexpr long kLockWaitMs = 3000;

std::int64_t MonotonicNs()
{
    struct timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Takes the lock that every process writing `target` shares. It lives in a file of its own beside
// the target: the target itself is replaced on every save, so a lock on it would lock nobody out.
std::int32_t Lock(const QByteArray& target)
{
    Registry& r = State();
    const QByteArray path = target + ".lock";
    if (r.lockFd >= 0 && path != r.lockPath) {
        ::close(r.lockFd);
        r.lockFd = -1;
    }
    const std::int64_t deadline = MonotonicNs() + (r.noWait > 0 ? 0 : kLockWaitMs * 1000000);
    std::int64_t pauseNs = 100000;
    for (;;) {
        if (r.lockFd < 0) {
            r.lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (r.lockFd < 0) return CodeOf(errno);
            r.lockPath = path;
        }
        if (::flock(r.lockFd, LOCK_EX | LOCK_NB) == 0) {
            // A lock file removed by hand while we held it open is one nobody else takes any more.
            struct stat st {};
            if (::fstat(r.lockFd, &st) == 0 && st.st_nlink > 0) return kRegOk;
            ::close(r.lockFd);
            r.lockFd = -1;
            if (MonotonicNs() >= deadline) return kRegLocked;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return CodeOf(errno);
        const std::int64_t left = deadline - MonotonicNs();
        if (left <= 0) return kRegLocked;
        const std::int64_t pause = std::min(pauseNs, left);
        const struct timespec t {time_t(pause / 1000000000), long(pause % 1000000000)};
        ::nanosleep(&t, nullptr);
        pauseNs = std::min<std::int64_t>(pauseNs * 2, 10000000);
    }
}

// Applies `change` to the registry as it stands on disk and saves it, holding the lock from the
// read to the save, so that no other process's save falls between them and is lost. `change`
// returns whether there is anything to save.
template <typename Change>
std::int32_t Locked(Change&& change)
{
    const QByteArray target = SaveTarget(FilePath());
    if (const std::int32_t code = Lock(target)) return code;
    Refresh();
    // Its rights may have changed since it was read (the stamp does not tell): a file we may no
    // longer read is not one we write over.
    if (State().unreadable == kRegOk) {
        const int fd = ::open(target.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        } else if (errno != ENOENT) {
            State().unreadable = CodeOf(errno);
            State().unreadableWhy = std::strerror(errno);
        }
    }
    // Nothing is saved over a file that cannot be read: it may hold every setting of the shop.
    const std::int32_t code = State().unreadable != kRegOk ? State().unreadable : change() ? Save(target) : kRegOk;
    ::flock(State().lockFd, LOCK_UN);
    return code;
}

// A text as it stands in the file when it cannot stand plain: quoted, with backslash escapes for
// the quote, the backslash and every control character.
std::string Quoted(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                static constexpr char hex[] = "0123456789ABCDEF";
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// A value, or a section's path between its brackets, stands plain when it holds no control
// character (a line feed would end the line), no leading or trailing blank (the reader trims
// them) and no leading quote (which would read as quoted).
bool Plain(const std::string& utf8)
{
    for (unsigned char c : utf8)
        if (c < 0x20 || c == 0x7F) return false;
    return utf8.empty() || (utf8.front() != ' ' && utf8.front() != '"' && utf8.back() != ' ');
}

std::string FileValue(const std::string& utf8) { return Plain(utf8) ? utf8 : Quoted(utf8); }

// A value name besides must hold no "=" (which would end it) and must not start as a comment or a
// section line does. The terminal's own names never need quotes; a name typed into `config set`
// (a card prefix, a register's code) may.
std::string FileName(const std::string& utf8)
{
    const bool plain = Plain(utf8) && utf8.find('=') == std::string::npos &&
                       (utf8.empty() || (utf8.front() != ';' && utf8.front() != '#' && utf8.front() != '['));
    return plain ? utf8 : Quoted(utf8);
}

// Where the name of a name=value line ends: at its first "=", or, when the line starts with a
// quoted name, at the "=" after its closing quote (the name itself may hold "=").
std::size_t NameEnd(const std::string& line)
{
    if (line.front() == '"') {
        std::size_t close = 1;
        while (close < line.size() && line[close] != '"') close += line[close] == '\\' ? 2 : 1;
        if (close < line.size()) {
            const std::size_t eq = line.find_first_not_of(" \t", close + 1);
            if (eq != std::string::npos && line[eq] == '=') return eq;
        }
    }
    return line.find('=');
}

std::string ReadFileValue(std::string_view v)
{
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') return std::string(v);
    std::string out;
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
        if (v[i] != '\\' || i + 2 >= v.size()) {
            out += v[i];
            continue;
        }
        const char e = v[++i];
        auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x':
            if (i + 3 < v.size() && hex(v[i + 1]) >= 0 && hex(v[i + 2]) >= 0) {
                out += static_cast<char>(hex(v[i + 1]) * 16 + hex(v[i + 2]));
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        default: out += e; break;
        }
    }
    return out;
}

// Well-formed UTF-8: a file of another encoding, or a binary one, is not read as settings.
bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t follow = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2
                                 : c >= 0xF0 && c <= 0xF4 ? 3 : 4;
        if (follow == 4 || i + follow >= s.size() + (follow == 0 ? 1 : 0)) return false;
        for (std::size_t k = 0; k < follow; ++k)
            if ((static_cast<unsigned char>(s[++i]) & 0xC0) != 0x80) return false;
    }
    return true;
}

std::string Trimmed(std::string_view s)
{
    const std::size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string_view::npos) return {};
    return std::string(s.substr(a, s.find_last_not_of(" \t\r") - a + 1));
}

} // namespace

std::vector<RegSection> Reg_Parse(std::string_view utf8, std::string* problem)
{
    std::vector<RegSection> sections;
    RegSection* current = nullptr;
    std::size_t from = 0;
    int number = 0;
    auto note = [&](const std::string& what) {
        if (problem && problem->empty()) *problem = "line " + std::to_string(number) + ": " + what;
    };
    if (utf8.starts_with("\xEF\xBB\xBF")) from = 3;
    while (from <= utf8.size()) {
        std::size_t end = utf8.find('\n', from);
        if (end == std::string_view::npos) end = utf8.size();
        ++number;
        const std::string_view raw = utf8.substr(from, end - from);
        const std::string line = Trimmed(raw);
        from = end + 1;
        if (raw.find('\0') != std::string_view::npos) note("a zero byte");
        else if (!IsUtf8(raw)) note("not UTF-8 text");
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string path = Text_Utf8ToCp1252(ReadFileValue(Trimmed(std::string_view(line).substr(1, line.size() - 2))));
            current = nullptr;
            for (auto& s : sections)
                if (Text_Equal(s.path, path)) current = &s;
            if (!current) {
                sections.push_back({path, {}});
                current = &sections.back();
            }
            continue;
        }
        const std::size_t eq = NameEnd(line);
        if (!current || eq == std::string::npos) {  // read past, and told as a problem
            note(!current ? "a setting before the first [section]" : "no \"=\" in \"" + line.substr(0, 40) + "\"");
            continue;
        }
        const std::string name = Text_Utf8ToCp1252(ReadFileValue(Trimmed(std::string_view(line).substr(0, eq))));
        const std::string value = Text_Utf8ToCp1252(ReadFileValue(Trimmed(std::string_view(line).substr(eq + 1))));
        bool replaced = false;
        for (auto& [n, v] : current->values)
            if (Text_Equal(n, name)) {
                v = value;
                replaced = true;
            }
        if (!replaced) current->values.emplace_back(name, value);
    }
    return sections;
}

std::string Reg_Format(const std::vector<RegSection>& sections)
{
    std::string out;
    for (const auto& s : sections) {
        if (!out.empty()) out += '\n';
        out += '[';
        out += FileValue(Text_Cp1252ToUtf8(s.path));
        out += "]\n";
        for (const auto& [name, value] : s.values) {
            out += FileName(Text_Cp1252ToUtf8(name));
            out += '=';
            out += FileValue(Text_Cp1252ToUtf8(value));
            out += '\n';
        }
    }
    return out;
}

std::int32_t Reg_Check(std::string* why)
{
    Refresh();
    const Registry& r = State();
    if (why) *why = r.unreadable == kRegOk ? std::string() : Text_FromQString(FilePath()) + ": " + r.unreadableWhy;
    return r.unreadable;
}

std::int32_t Reg_OpenKey(std::int32_t hive, std::string_view subkey, std::uint32_t, RegKey* key)
{
    if (hive != kRegHklm || !key) return kRegInvalidHandle;
    Refresh();
    if (State().unreadable != kRegOk) return State().unreadable;
    if (!FindSection(subkey)) return kRegNotFound;
    Registry& r = State();
    *key = r.nextHandle++;
    r.handles[*key] = {std::string(subkey)};
    return kRegOk;
}

std::int32_t Reg_CreateKey(std::int32_t hive, std::string_view subkey, std::uint32_t, RegKey* key)
{
    if (hive != kRegHklm || !key) return kRegInvalidHandle;
    Refresh();
    if (State().unreadable != kRegOk) return State().unreadable;
    if (!FindSection(subkey)) {
        const std::int32_t code = Locked([&] {
            if (FindSection(subkey)) return false;  // another process made it meanwhile
            State().sections.push_back({std::string(subkey), {}});
            return true;
        });
        if (code) return code;
    }
    Registry& r = State();
    *key = r.nextHandle++;
    r.handles[*key] = {std::string(subkey)};
    return kRegOk;
}

std::int32_t Reg_QueryValue(RegKey key, std::string_view name, char* buffer, std::uint32_t* size)
{
    Registry& r = State();
    const auto h = r.handles.find(key);
    if (h == r.handles.end() || !size) return kRegInvalidHandle;
    const RegSection* section = FindSection(h->second.subkey);
    if (!section) return kRegNotFound;
    for (const auto& [n, v] : section->values) {
        if (!Text_Equal(n, name)) continue;
        const std::uint32_t needed = static_cast<std::uint32_t>(v.size()) + 1;
        if (!buffer || needed > *size) {
            *size = needed;
            return kRegMoreData;
        }
        std::copy(v.begin(), v.end(), buffer);
        buffer[v.size()] = '\0';
        *size = needed;
        return kRegOk;
    }
    return kRegNotFound;
}

RegNoWait::RegNoWait() { ++State().noWait; }
RegNoWait::~RegNoWait() { --State().noWait; }

std::int32_t Reg_SetValue(RegKey key, std::string_view name, std::string_view data)
{
    return Reg_ChangeValue(key, name, [data](const std::string*) { return std::optional<std::string>(data); });
}

std::int32_t Reg_ChangeValue(RegKey key, std::string_view name, const RegChange& change)
{
    Registry& r = State();
    const auto h = r.handles.find(key);
    if (h == r.handles.end()) return kRegInvalidHandle;
    const std::string subkey = h->second.subkey;
    return Locked([&] {
        RegSection* section = FindSection(subkey);
        std::string* value = nullptr;
        if (section)
            for (auto& [n, v] : section->values)
                if (Text_Equal(n, name)) {
                    value = &v;
                    break;
                }
        std::optional<std::string> now = change(value);
        if (!now) return false;
        if (value) {
            *value = std::move(*now);
            return true;
        }
        if (!section) {
            r.sections.push_back({subkey, {}});
            section = &r.sections.back();
        }
        section->values.emplace_back(std::string(name), std::move(*now));
        return true;
    });
}

std::int32_t Reg_DeleteValue(RegKey key, std::string_view name, std::optional<std::string>* before)
{
    Registry& r = State();
    const auto h = r.handles.find(key);
    if (h == r.handles.end()) return kRegInvalidHandle;
    const std::string subkey = h->second.subkey;
    if (before) before->reset();
    bool found = false;
    const std::int32_t code = Locked([&] {
        RegSection* section = FindSection(subkey);
        if (!section) return false;
        auto& values = section->values;
        const auto at = std::find_if(values.begin(), values.end(), [&](const auto& v) { return Text_Equal(v.first, name); });
        if (at == values.end()) return false;
        found = true;
        if (before) *before = at->second;
        values.erase(at);
        return true;
    });
    return code != kRegOk ? code : found ? kRegOk : kRegNotFound;
}

std::int32_t Reg_CloseKey(RegKey key)
{
    return State().handles.erase(key) ? kRegOk : kRegInvalidHandle;
}

std::string Reg_ErrorText(std::int32_t code)
{
    switch (code) {
    case kRegOk: return "The operation completed successfully.";
    case kRegNotFound: return "The system cannot find the file specified.";
    case kRegAccessDenied: return "Access is denied.";
    case kRegInvalidHandle: return "The handle is invalid.";
    case 29: return "The system cannot write to the specified device.";
    case kRegLocked: return "The process cannot access the file because another process has locked a portion of the file.";
    case kRegMoreData: return "More data is available.";
    case kRegCorrupt: return "The configuration registry database is corrupt.";
    default: return "Unknown error " + std::to_string(code) + ".";
    }
}

std::vector<RegEntry> Reg_List()
{
    Refresh();
    std::vector<RegEntry> entries;
    for (const auto& s : State().sections)
        for (const auto& [n, v] : s.values) entries.push_back({s.path, n, v});
    return entries;
}

} // namespace tollan
