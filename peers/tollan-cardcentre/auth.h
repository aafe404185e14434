#pragma once
// The card centre's side of an authorisation: the request read element by element, and the
// response with the verdict and the elements the terminal reads back.
#include "peers/tollan-cardcentre/rules.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tollan::peer {

struct AuthRequest {
    int type = 0;                                        // 100, 101, 400 or 401; 110, 410 answers
    std::vector<std::pair<int, std::string>> elements;  // in the order they came
    const std::string* Find(int element) const;
    std::string Get(int element) const;                 // empty when absent
};

// Reads an unframed message (packed type, bitmaps, elements): a request, or our own response for
// --verbose. False when the type is no number, an element is not known, or the message ends
// before its bitmap does.
bool Auth_DecodeRequest(std::string_view message, AuthRequest& request, std::string& error);
// One line per element: number, name, value (control and 8-bit bytes percent-encoded).
std::string Auth_Describe(const AuthRequest& request);
// Element 39 of the answer: "00" on approval, else the decline's two characters.
std::string Auth_ResponseCode(const Behaviour& b);
// The unframed response: type 0110 or 0410 (a repeat is answered as its request), the bitmap, the
// echoed elements, 38 on approval and 39 unless left out.
std::string Auth_Response(const AuthRequest& request, const Behaviour& b);
// The bytes on the line: the full frame, with noise in front, a wrong check character or bytes
// after it if asked.
std::string Auth_Wire(std::string_view response, const Behaviour& b);

} // namespace tollan::peer
