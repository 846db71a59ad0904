#ifndef PICTURES_H
#define PICTURES_H

#include <QImage>

// The program's pictures, each drawn from scratch at the size the window or the dialog shows it.
namespace Pictures {

QImage launchArrow();        // 57 x 40, the launch button's icon
QImage mainBackground();     // 800 x 570, lies under the whole main window
QImage overlay();            // 1080 x 751, shown scaled to 800 x 556 over the main window
// Full shading has gradients and glows; flat shading keeps to three solid colours of the 16 Windows
// colours, for icons with a 16-colour palette.
enum class Shading { Full, Flat };
QImage icon(int size, Shading shading = Shading::Full);   // size x size, the application icon
QImage aboutBackground();    // 470 x 330, behind the About text

} // namespace Pictures

#endif // PICTURES_H
