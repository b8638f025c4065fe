#pragma once

#include <QIcon>

namespace zorvo {

// The application icon (the same picture as zorvo.svg, which the desktop uses), drawn at the
// usual sizes so no image plugin is needed.
QIcon ZorvoIcon();

}  // namespace zorvo
