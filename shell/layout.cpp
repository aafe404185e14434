#include "shell/layout.h"

namespace tollan {

namespace {

using K = PartKind;

// The frames are element 0 and 1 of "Frames"; their tops are PlaceFrames' to set.
constexpr LayoutPart kLayout[] = {
    {"Frames", K::Frame, 0, " Süsteem ", 45, 0, 5400, 1500},
    {"pTraffic", K::Picture, 0, "", 120, 300, 480, 480},
    {"cErrLog", K::Button, 0, "&Vigade arhiiv", 720, 300, 2160, 375},
    {"cMenu", K::Button, 0, "&Seaded...", 3000, 300, 2160, 375},
    {"lbViga", K::Label, 0, "Viga:", 120, 840, 600, 255},
    {"lError", K::Status, 0, "", 720, 840, 4560, 255},
    {"lCount", K::Label, 0, "0 saatmata päringut", 120, 1140, 2400, 255},
    {"lDate", K::Label, 0, "", 2640, 1140, 2640, 255},

    {"Frames", K::Frame, 1, " Tehingud ", 45, 0, 5400, 1920},
    {"lbKaart", K::Label, 1, "Kaart:", 120, 345, 900, 255},
    {"tKaart", K::Field, 1, "", 1080, 300, 2640, 330},
    {"cTehing", K::Button, 1, "&Tehing", 3840, 278, 1440, 375},
    {"lbSumma", K::Label, 1, "Summa:", 120, 765, 900, 255},
    {"tSumma", K::Field, 1, "", 1080, 720, 2640, 330},
    {"cTyhista", K::Button, 1, "Tü&hista", 3840, 698, 1440, 375},
    {"lbNumber", K::Label, 1, "Number:", 120, 1185, 900, 255},
    {"lTransNr", K::Status, 1, "", 1080, 1170, 2640, 285},
    {"lConsole", K::Label, 1, "Ootan...", 120, 1560, 5160, 255},
};

} // namespace

std::span<const LayoutPart> MainWindow_Layout() { return kLayout; }

} // namespace tollan
