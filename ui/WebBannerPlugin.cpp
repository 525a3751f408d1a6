// quorvel-web-banner.so: the banner's web view (Qt WebEngine), loaded by the main window only
// when a banner page is configured. See WebBanner.h.
#include <QObject>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "WebBanner.h"

class WebBannerPlugin : public QObject, public WebBannerEngine {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QuorvelWebBannerEngine_iid)
  Q_INTERFACES(WebBannerEngine)

 public:
  QWidget* CreateView(QWidget* parent, std::function<void(bool)> finished) override {
    auto* view = new QWebEngineView(parent);
    QObject::connect(view, &QWebEngineView::loadFinished, view, std::move(finished));
    return view;
  }

  void Load(QWidget* view, const QUrl& url) override {
    if (auto* web = qobject_cast<QWebEngineView*>(view)) web->load(url);
  }

  void RunScript(QWidget* view, const QString& script, std::function<void()> done) override {
    auto* web = qobject_cast<QWebEngineView*>(view);
    if (!web) return;
    web->page()->runJavaScript(script, [done = std::move(done)](const QVariant&) { done(); });
  }
};

#include "WebBannerPlugin.moc"
