#include "shell/layout.h"

namespace tollan {

namespace {

using K = PartKind;

// The frames are element 0 and 1 of "Frames"; their tops are PlaceFrames' to set.
constexpr LayoutPart kLayout[] = {
    {"Frames", K::Frame, 0, " Süsteem ", 45, 0, 6600, 1500},
    {"pTraffic", K::Picture, 0, "", 120, 300, 480, 480},
    {"cErrLog", K::Button, 0, "&Vigade arhiiv", 720, 300, 2160, 375},
    {"cMenu", K::Button, 0, "&Seaded...", 3000, 300, 2160, 375},
    {"lbViga", K::Label, 0, "V&iga:", 120, 840, 600, 255},
    {"lError", K::Status, 0, "", 720, 840, 5760, 255},
    {"lCount", K::Label, 0, "0 saatmata päringut", 120, 1140, 2400, 255},
    {"lDate", K::Label, 0, "", 2640, 1140, 3840, 255},

    // The card field holds a whole card text as a reader gives it (number, "=", expiry, the rest).
    {"Frames", K::Frame, 1, " Tehingud ", 45, 0, 6600, 1920},
    {"lbKaart", K::Label, 1, "&Kaart:", 120, 345, 900, 255},
    {"tKaart", K::Field, 1, "", 1080, 300, 3840, 330},
    {"cTehing", K::Button, 1, "&Tehing", 5040, 278, 1440, 375},
    {"lbSumma", K::Label, 1, "S&umma:", 120, 765, 900, 255},
    {"tSumma", K::Field, 1, "", 1080, 720, 3840, 330},
    {"cTyhista", K::Button, 1, "Tü&hista", 5040, 698, 1440, 375},
    {"lbNumber", K::Label, 1, "Number:", 120, 1185, 900, 255},
    {"lTransNr", K::Status, 1, "", 1080, 1170, 3840, 285},
    {"lConsole", K::Label, 1, "Ootan...", 120, 1560, 6360, 255},
};

} // namespace

std::span<const LayoutPart> MainWindow_Layout() { return kLayout; }

} // namespace tollan
