#include "peers/tollan-cardcentre/auth.h"

#include "protocol/frame.h"
#include "protocol/messages.h"
#include "support/text.h"

#include <algorithm>

namespace tollan::peer {
namespace {

// The elements a terminal's request may carry, as the terminal writes them.
struct Element {
    int number;
    int type;
    int width;
    bool fixed;
    const char* name;
};
const Element kElements[] = {
    {1, 8, 8, true, "secondary bitmap"},
    {2, 2, 19, false, "card number"},
    {3, 2, 6, true, "processing code"},
    {4, 2, 12, true, "amount"},
    {7, 2, 10, true, "date and time"},
    {11, 2, 6, true, "trace number"},
    {14, 2, 4, true, "expiry"},
    {18, 2, 4, true, "activity code"},
    {32, 2, 11, false, "acquirer"},
    {33, 2, 11, false, "forwarder"},
    {35, 9, 37, false, "track 2"},
    {38, 4, 6, true, "authorisation code"},
    {39, 4, 2, true, "response code"},
    {41, 7, 8, true, "terminal id"},
    {42, 7, 15, true, "acceptor id"},
    {43, 7, 40, true, "acceptor location"},
    {47, 7, 999, false, "national data"},
    {49, 2, 3, true, "currency"},
    {52, 8, 64, true, "PIN data"},
    {90, 2, 42, true, "original data"},
};

const Element* FindElement(int n)
{
    for (const auto& e : kElements)
        if (e.number == n)
            return &e;
    return nullptr;
}

// What the response carries back of the request, in ascending order; 43 and 47 are left out
// because the terminal reads them in another form than it writes them.
const int kEchoed[] = {2, 3, 4, 7, 11, 41, 42, 49};

void SetBit(std::string& bitmap, int n)
{
    bitmap[static_cast<std::size_t>((n - 1) / 8)] |= static_cast<char>(0x80 >> ((n - 1) % 8));
}

} // namespace

const std::string* AuthRequest::Find(int element) const
{
    for (const auto& [n, v] : elements)
        if (n == element)
            return &v;
    return nullptr;
}

std::string AuthRequest::Get(int element) const
{
    const std::string* v = Find(element);
    return v ? *v : std::string();
}

bool Auth_DecodeRequest(std::string_view message, AuthRequest& request, std::string& error)
{
    request = {};
    std::string_view body = message;
    std::string type;
    if (!KK_UnpackDigits(body, 4, type) || type.find_first_not_of("0123456789") != std::string::npos) {
        error = "no message type";
        return false;
    }
    request.type = std::stoi(type);
    std::string bitmap;
    if (!KK_ParseField(8, 8, true, body, bitmap)) {
        error = "message ends in its bitmap";
        return false;
    }
    if (KK_BitSet(bitmap, 1)) {
        std::string secondary;
        if (!KK_ParseField(8, 8, true, body, secondary)) {
            error = "message ends in its secondary bitmap";
            return false;
        }
        request.elements.emplace_back(1, secondary);
        bitmap += secondary;
    }
    const int last = bitmap.size() > 8 ? 128 : 64;
    for (int n = 2; n <= last; ++n) {
        if (!KK_BitSet(bitmap, n))
            continue;
        const Element* e = FindElement(n);
        if (!e) {
            error = "element " + std::to_string(n) + " is not known";
            return false;
        }
        std::string value;
        if (!KK_ParseField(e->type, e->width, e->fixed, body, value)) {
            error = "message ends in element " + std::to_string(n);
            return false;
        }
        request.elements.emplace_back(n, value);
    }
    if (!body.empty()) {
        error = std::to_string(body.size()) + " bytes after the last element";
        return false;
    }
    return true;
}

std::string Auth_Describe(const AuthRequest& request)
{
    std::string out = "message " + KK_Number(request.type, 4) + "\n";
    for (const auto& [n, v] : request.elements) {
        const Element* e = FindElement(n);
        out += "  " + KK_Number(n, 3) + " " + (e ? e->name : "?") + ": " + Url_Encode(v, 1) + "\n";
    }
    return out;
}

std::string Auth_ResponseCode(const Behaviour& b)
{
    return b.verdict == Behaviour::Approve ? "00" : b.code;
}

std::string Auth_Response(const AuthRequest& request, const Behaviour& b)
{
    const int responseType = request.type - request.type % 10 + 10;
    std::string bitmap(8, '\0');
    std::string elements;
    auto add = [&](int n, const std::string& value) {
        const Element* e = FindElement(n);
        SetBit(bitmap, n);
        elements += KK_FormatField(e->type, e->width, e->fixed, value);
    };
    for (int n : kEchoed) {
        if (n == 41) {   // 38 and 39 go between 11 and 41: elements travel in ascending order
            if (b.verdict == Behaviour::Approve)
                add(38, b.authCode);
            if (!b.noCode)
                add(39, Auth_ResponseCode(b));
        }
        if (const std::string* v = request.Find(n))
            add(n, *v);
    }
    return KK_FormatField(2, 4, true, KK_Number(responseType, 4)) + bitmap + elements;
}

std::string Auth_Wire(std::string_view response, const Behaviour& b)
{
    std::string frame = KK_Frame(response);
    if (frame.size() >= 2 && b.badCheck) {
        // Any other character of the check range is wrong.
        char& check = frame[frame.size() - 2];
        check = static_cast<char>(check == ' ' ? '!' : check - 1);
    }
    if (b.noise)
        frame.insert(0, std::string("\x7F\x10noise\x02~", 9));
    return frame + b.trailing;
}

} // namespace tollan::peer
