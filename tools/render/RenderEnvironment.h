#pragma once

#include <QString>

namespace quillby {

// How the render tools and the windows' render tests show the program: the desktop's colour
// scheme ("light" or "dark", through the KDE palette that Qt reads from kdeglobals), the scale
// factor and the locale. Each comes from a command-line option or, failing that, from an
// environment variable:
//   --scheme light|dark   QUILLBY_RENDER_SCHEME
//   --scale N             QUILLBY_RENDER_SCALE   (QT_SCALE_FACTOR)
//   --locale NAME         QUILLBY_RENDER_LOCALE  (for example en_US or de_DE)
// Unset ones leave the process as it was.
struct RenderEnvironment {
    QString scheme;
    QString scale;
    QString locale;
};

// Reads the options (removing them from argv) and prepares the process. Must run before the
// QApplication is made. A scheme needs a display (it picks the xcb platform when none is chosen).
RenderEnvironment prepareRenderEnvironment(int &argc, char **argv);

} // namespace quillby
