// The web view of the banner lives in a plugin of its own (quorvel-web-banner.so), so that the
// browser engine, which costs more start-up time and memory than the rest of the program together,
// is loaded only when a banner page is configured, and only once the window is on the screen.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtPlugin>

#include <functional>

class QWidget;

// What the window asks of the plugin.
class WebBannerEngine {
 public:
  virtual ~WebBannerEngine() = default;
  // A web view as a child of `parent`, not yet loading anything; `finished` is called after each
  // finished load of its page with whether the load succeeded.
  virtual QWidget* CreateView(QWidget* parent, std::function<void(bool)> finished) = 0;
  virtual void Load(QWidget* view, const QUrl& url) = 0;
  // Runs `script` in the view's top-level document; `done` follows once it has run.
  virtual void RunScript(QWidget* view, const QString& script, std::function<void()> done) = 0;
};

#define QuorvelWebBannerEngine_iid "io.github.quorvel.WebBannerEngine/1"
Q_DECLARE_INTERFACE(WebBannerEngine, QuorvelWebBannerEngine_iid)

// Whether `url` names a page the banner could ever show: not empty, and not on a host that the
// reserved top-level names .example and .invalid guarantee never to resolve (the placeholder
// addresses). For any other address the web view is created and tries.
bool IsLoadableBannerAddress(const QUrl& url);

// The plugin's engine, loaded on first use: beside the program (a build or an unpacked folder),
// else in the installed library folder next to the program's bin folder. Null when it is missing
// or cannot be loaded (a warning on standard error says why); the banner then stays built in.
WebBannerEngine* LoadWebBannerEngine();
