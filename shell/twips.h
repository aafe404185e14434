#pragma once
// Positions and sizes of the main window are kept in twips, 1440 to the logical inch, so that a saved
// position means the same place on a screen of another resolution.

#include <QPoint>

namespace tollan {

inline constexpr int kTwipsPerInch = 1440;

// Twips to pixels and back at the primary screen's logical resolution (96 when there is no screen).
int Twips_ToPxX(int twips);
int Twips_ToPxY(int twips);
int Twips_FromPxX(int px);
int Twips_FromPxY(int px);

} // namespace tollan
