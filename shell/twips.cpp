#include "shell/twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace tollan {

namespace {

double Dpi(bool horizontal)
{
    const QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return 96.0;
    const double dpi = horizontal ? s->logicalDotsPerInchX() : s->logicalDotsPerInchY();
    return dpi > 0 ? dpi : 96.0;
}

int Scale(int v, double num, double den) { return int(std::lround(double(v) * num / den)); }

} // namespace

int Twips_ToPxX(int twips) { return Scale(twips, Dpi(true), kTwipsPerInch); }
int Twips_ToPxY(int twips) { return Scale(twips, Dpi(false), kTwipsPerInch); }
int Twips_FromPxX(int px) { return Scale(px, kTwipsPerInch, Dpi(true)); }
int Twips_FromPxY(int px) { return Scale(px, kTwipsPerInch, Dpi(false)); }

} // namespace tollan
