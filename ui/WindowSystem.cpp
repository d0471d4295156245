#include "ui/WindowSystem.h"

#include <QGuiApplication>

namespace tw {

bool CanPlaceTopLevels() {
  return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

// Qt's Wayland platform takes the token from the environment at the next activation request and
// removes it there, so a token serves one activation.
void UseActivationToken(const QByteArray& token) {
  if (token.isEmpty() || CanPlaceTopLevels()) return;
  qputenv(kActivationTokenVariable, token);
}

}  // namespace tw
