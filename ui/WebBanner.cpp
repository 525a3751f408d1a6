#include "WebBanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#ifndef QUORVEL_WEB_BANNER_INSTALL_DIR
#define QUORVEL_WEB_BANNER_INSTALL_DIR "lib/quorvel/plugins"
#endif

namespace {
constexpr char kPluginFile[] = "quorvel-web-banner.so";
}

bool IsLoadableBannerAddress(const QUrl& url) {
  if (url.isEmpty() || !url.isValid()) return false;
  const QString host = url.host().toLower();
  for (const QLatin1String reserved : {QLatin1String("example"), QLatin1String("invalid")}) {
    if (host == reserved || host.endsWith(QLatin1Char('.') + reserved)) return false;
  }
  return true;
}

WebBannerEngine* LoadWebBannerEngine() {
  static WebBannerEngine* engine = []() -> WebBannerEngine* {
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString candidates[] = {
        programDir.filePath(QLatin1String(kPluginFile)),
        programDir.filePath(QStringLiteral("../" QUORVEL_WEB_BANNER_INSTALL_DIR "/") +
                            QLatin1String(kPluginFile)),
    };
    QString failure =
        QStringLiteral("not found beside the program nor in ../" QUORVEL_WEB_BANNER_INSTALL_DIR);
    for (const QString& path : candidates) {
      if (!QFileInfo::exists(path)) continue;
      // The loader stays alive: the plugin is never unloaded while the program runs.
      auto* loader = new QPluginLoader(QDir::cleanPath(path));
      if (auto* found = qobject_cast<WebBannerEngine*>(loader->instance())) return found;
      failure = loader->errorString();
      delete loader;
    }
    qWarning("quorvel: the web banner cannot be shown (%s); the built-in banner stays",
             qPrintable(failure));
    return nullptr;
  }();
  return engine;
}
