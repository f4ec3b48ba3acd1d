#include "browser/webengine/page_bridge.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <cmath>
#include <vector>

#include "browser/webengine/bridge_script.h"

namespace qm {

struct PageBridge::Core {
  QPointer<QWebEnginePage> page;
  int limitMs = 1000;
  std::vector<std::pair<QString, qint64>> releases;  // (generation, number) released here, not yet there

  QVariant Evaluate(const QString& code, bool* answered);
  QVariant EvaluateWithBridge(const QString& body, bool* answered);
  int Call(const std::weak_ptr<Core>& self, const QString& gen, qint64 id, const std::string& name, CallKind kind,
           const std::vector<Variant>& args, Variant* result);
  int Root(const std::weak_ptr<Core>& self, Variant* result);
  QString TakeReleases();
  void Release(const QString& gen, qint64 id);
};

namespace {

// An object of the page: its document's generation and its number in the
// page's registry.
class PageObject : public Dispatch {
 public:
  PageObject(std::weak_ptr<PageBridge::Core> core, QString gen, qint64 id)
      : core_(std::move(core)), gen_(std::move(gen)), id_(id) {}
  ~PageObject() override {
    if (auto core = core_.lock()) core->Release(gen_, id_);
  }
  int Invoke(const std::string& name, CallKind kind, const std::vector<Variant>& args, Variant* result) override {
    auto core = core_.lock();
    if (!core) return kCallEmptyObject;
    return core->Call(core_, gen_, id_, name, kind, args, result);
  }
  const PageBridge::Core* CoreAddress() const { return core_.lock().get(); }
  const QString& Gen() const { return gen_; }
  qint64 Id() const { return id_; }

 private:
  std::weak_ptr<PageBridge::Core> core_;
  QString gen_;
  qint64 id_;
};

void AppendJsString(QString* out, const QString& text) {
  static const char* kHex = "0123456789abcdef";
  out->append(QLatin1Char('"'));
  for (QChar ch : text) {
    const char16_t u = ch.unicode();
    if (u == '"' || u == '\\') {
      out->append(QLatin1Char('\\'));
      out->append(ch);
    } else if (u < 0x20 || u == 0x2028 || u == 0x2029 || u == 0x7F) {
      out->append(QLatin1String("\\u"));
      for (int shift = 12; shift >= 0; shift -= 4) out->append(QLatin1Char(kHex[(u >> shift) & 0xF]));
    } else {
      out->append(ch);
    }
  }
  out->append(QLatin1Char('"'));
}

// The argument as a script literal; 0 or the code of why it cannot be passed.
int AppendArgument(QString* out, const Variant& value, const PageBridge::Core* core, const QString& gen) {
  switch (value.type()) {
    case Variant::Type::Empty:
      out->append(QLatin1String("null"));
      return kCallOk;
    case Variant::Type::Bool:
      out->append(value.ToBool() ? QLatin1String("true") : QLatin1String("false"));
      return kCallOk;
    case Variant::Type::Int:
    case Variant::Type::Real: {
      const double n = value.ToNumber();
      out->append(std::isfinite(n) ? QString::number(n, 'g', 17) : QStringLiteral("NaN"));
      return kCallOk;
    }
    case Variant::Type::Text:
      AppendJsString(out, QString::fromStdString(*value.AsText()));
      return kCallOk;
    case Variant::Type::Bytes:
      return kCallBadArgType;
    case Variant::Type::Object: {
      const ComObject object = value.ToObject();
      const auto* page = dynamic_cast<const PageObject*>(object.object().get());
      if (page == nullptr || page->CoreAddress() != core) return kCallBadArgType;
      if (page->Gen() != gen) return kCallEmptyObject;
      out->append(QStringLiteral("{$h:%1}").arg(page->Id()));
      return kCallOk;
    }
  }
  return kCallBadArgType;
}

// [code, value, isObject(, generation)] from the page into a result.
int TakeAnswer(const QVariant& reply, const std::weak_ptr<PageBridge::Core>& core, const QString& gen,
               Variant* result) {
  const QVariantList list = reply.toList();
  if (list.size() < 3) return kCallEmptyObject;  // the page's world went away during the call
  const int code = list[0].toInt();
  if (code != kCallOk) return code;
  const QVariant& value = list[1];
  if (list[2].toInt() == 1) {
    const QString objectGen = list.size() > 3 ? list[3].toString() : gen;
    if (result) *result = Variant(ComObject(std::make_shared<PageObject>(core, objectGen, value.toLongLong())));
    return kCallOk;
  }
  if (!result) return kCallOk;
  switch (value.typeId()) {
    case QMetaType::Bool:
      *result = Variant(value.toBool());
      break;
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong: {
      const double n = value.toDouble();
      if (n == std::floor(n) && std::fabs(n) < 9.0e15) {
        *result = Variant(static_cast<std::int64_t>(n));
      } else {
        *result = Variant(n);
      }
      break;
    }
    case QMetaType::QString:
      *result = Variant(value.toString().toStdString());
      break;
    default:
      *result = Variant();
  }
  return kCallOk;
}

}  // namespace

QVariant PageBridge::Core::Evaluate(const QString& code, bool* answered) {
  *answered = false;
  if (!page) return {};
  struct Pending {
    bool done = false;
    QVariant value;
    QEventLoop* loop = nullptr;
  };
  auto pending = std::make_shared<Pending>();
  page->runJavaScript(code, QWebEngineScript::ApplicationWorld, [pending](const QVariant& value) {
    pending->value = value;
    pending->done = true;
    if (pending->loop) pending->loop->quit();
  });
  if (!pending->done) {
    // Events keep running while the page answers; a handler may make calls
    // of its own in here, each with its own loop.
    QEventLoop loop;
    pending->loop = &loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(page.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    loop.exec();
    pending->loop = nullptr;
  }
  *answered = pending->done;
  return pending->value;
}

// `body` is the inside of a function that may use q (the page's bridge); a
// page whose bridge is missing (a document made before the script was
// registered) gets it once.
QVariant PageBridge::Core::EvaluateWithBridge(const QString& body, bool* answered) {
  const QString code = QStringLiteral("(function(){var q=window.__qm;if(!q)return 0;") + TakeReleases() + body +
                       QStringLiteral("})()");
  QVariant reply = Evaluate(code, answered);
  if (*answered && reply.typeId() != QMetaType::QVariantList && reply.toInt() == 0) {
    bool injected = false;
    Evaluate(QString::fromUtf8(BridgeScriptSource()), &injected);
    if (injected) reply = Evaluate(code, answered);
  }
  return reply;
}

QString PageBridge::Core::TakeReleases() {
  if (releases.empty()) return {};
  QString out;
  std::size_t i = 0;
  while (i < releases.size()) {
    const QString& gen = releases[i].first;
    out += QStringLiteral("q.r(");
    AppendJsString(&out, gen);
    out += QStringLiteral(",[");
    bool first = true;
    for (; i < releases.size() && releases[i].first == gen; ++i) {
      if (!first) out += QLatin1Char(',');
      out += QString::number(releases[i].second);
      first = false;
    }
    out += QStringLiteral("]);");
  }
  releases.clear();
  return out;
}

void PageBridge::Core::Release(const QString& gen, qint64 id) {
  releases.emplace_back(gen, id);
  // Many releases without a call in between go out on their own, unanswered.
  if (releases.size() >= 256 && page) {
    page->runJavaScript(QStringLiteral("(function(){var q=window.__qm;if(!q)return 0;") + TakeReleases() +
                            QStringLiteral("return 0;})()"),
                        QWebEngineScript::ApplicationWorld);
  }
}

int PageBridge::Core::Call(const std::weak_ptr<Core>& self, const QString& gen, qint64 id, const std::string& name,
                           CallKind kind, const std::vector<Variant>& args, Variant* result) {
  if (!page) return kCallEmptyObject;
  QString body = QStringLiteral("return q.c(");
  AppendJsString(&body, gen);
  body += QLatin1Char(',') + QString::number(id) + QLatin1Char(',');
  AppendJsString(&body, QString::fromStdString(name));
  body += QLatin1Char(',') +
          QString::number(kind == CallKind::Method ? 0 : kind == CallKind::PropertyGet ? 1 : 2) +
          QStringLiteral(",[");
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) body += QLatin1Char(',');
    if (const int code = AppendArgument(&body, args[i], this, gen); code != kCallOk) return code;
  }
  body += QStringLiteral("]);");
  bool answered = false;
  const QVariant reply = EvaluateWithBridge(body, &answered);
  if (!page) return kCallEmptyObject;
  if (!answered) return kCallOtherFailure;
  return TakeAnswer(reply, self, gen, result);
}

int PageBridge::Core::Root(const std::weak_ptr<Core>& self, Variant* result) {
  bool answered = false;
  const QVariant reply = EvaluateWithBridge(QStringLiteral("return q.root();"), &answered);
  if (!page) return kCallEmptyObject;
  if (!answered) return kCallOtherFailure;
  return TakeAnswer(reply, self, QString(), result);
}

PageBridge::PageBridge(QWebEnginePage* page) : QObject(page), core_(std::make_shared<Core>()) {
  core_->page = page;
  QWebEngineScript script;
  script.setName(QStringLiteral("quillmere-bridge"));
  script.setSourceCode(QString::fromUtf8(BridgeScriptSource()));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::ApplicationWorld);
  script.setRunsOnSubFrames(false);
  if (page->scripts().find(script.name()).isEmpty()) page->scripts().insert(script);
}

PageBridge::~PageBridge() = default;

void PageBridge::SetCallLimit(int milliseconds) { core_->limitMs = milliseconds > 0 ? milliseconds : 1; }

ComObject PageBridge::BrowserObject() const {
  auto browser = std::make_shared<MemberDispatch>();
  std::weak_ptr<Core> weak = core_;
  browser->Add("Document", [weak](CallKind kind, const std::vector<Variant>&, Variant* result) {
    auto core = weak.lock();
    if (!core || !core->page) return int(kCallEmptyObject);
    if (kind == CallKind::PropertyPut) return int(kCallMemberNotFound);
    return core->Root(weak, result);
  });
  browser->Add("LocationURL", [weak](CallKind kind, const std::vector<Variant>&, Variant* result) {
    auto core = weak.lock();
    if (!core || !core->page) return int(kCallEmptyObject);
    if (kind == CallKind::PropertyPut) return int(kCallMemberNotFound);
    if (result) *result = Variant(core->page->url().toString(QUrl::FullyEncoded).toStdString());
    return int(kCallOk);
  });
  browser->Add("Stop", [weak](CallKind, const std::vector<Variant>&, Variant*) {
    auto core = weak.lock();
    if (!core || !core->page) return int(kCallEmptyObject);
    core->page->triggerAction(QWebEnginePage::Stop);
    return int(kCallOk);
  });
  return ComObject(browser);
}

}  // namespace qm
