// The window layouts built into widgets: names, frames, columns, menus.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "app/builder.h"
#include "app/layout.h"

using namespace qm;

class LayoutTest : public QObject {
  Q_OBJECT
 private slots:
  void everyControlWithAViewIsBuiltByName() {
    for (const WindowLayout* layout : AllWindowLayouts()) {
      if (layout->name == "AuthWindow" || layout->name == "RatingPageWindow") continue;  // browsers: see below
      QWidget window;
      BuildWindow(&window, *layout);
      QCOMPARE(window.objectName(), Q(layout->name));
      QCOMPARE(window.size(), QSize(layout->width, layout->height));
      QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
      for (const ControlLayout& c : layout->controls) {
        QObject* o = FindControlObject(&window, Q(c.name));
        const bool hasView = c.kind != ControlKind::Database && c.kind != ControlKind::MenuSkin;
        QVERIFY2((o != nullptr) == hasView, (layout->name + "/" + c.name).c_str());
        if (auto* w = qobject_cast<QWidget*>(o)) {
          QCOMPARE(w->geometry(), QRect(c.left, c.top, c.width, c.height));
          QCOMPARE(w->isVisibleTo(&window), c.shown && (c.frame.empty() || layout->Find(c.frame)->shown));
          const QString parentName = w->parentWidget() == &window ? QString() : w->parentWidget()->objectName();
          QCOMPARE(parentName, Q(c.frame));
          QCOMPARE(w->cursor().shape() == Qt::PointingHandCursor, c.handCursor);
        }
      }
    }
  }

  void mainWindowListsMenusAndHiddenParts() {
    QWidget window;
    BuildWindow(&window, MainWindowLayout());
    auto* list1 = Control<QTreeView>(&window, "超级列表框1");
    QVERIFY(list1 != nullptr);
    QCOMPARE(list1->model()->columnCount(), 4);
    QCOMPARE(list1->model()->headerData(2, Qt::Horizontal).toString(), QString("确认时间"));
    QCOMPARE(list1->header()->sectionSize(0), 120);
    QCOMPARE(list1->header()->sectionSize(1), 150);
    QCOMPARE(list1->header()->sectionSize(2), 0);
    QCOMPARE(list1->header()->sectionSize(3), 110);
    // The end-time column is there and can be widened by the user.
    list1->header()->resizeSection(2, 90);
    QCOMPARE(list1->header()->sectionSize(2), 90);
    auto* list2 = Control<QTreeView>(&window, "超级列表框2");
    QCOMPARE(list2->model()->columnCount(), 2);
    QCOMPARE(list2->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list1->selectionMode(), QAbstractItemView::SingleSelection);

    QVERIFY(!FindControl(&window, "外形框3")->isVisibleTo(&window));
    QVERIFY(!FindControl(&window, "图片框2")->isVisibleTo(&window));
    QTimer* t1 = FindTimer(&window, "时钟1");
    QTimer* t2 = FindTimer(&window, "时钟2");
    QVERIFY(t1 && t2);
    QVERIFY(!t1->isActive() && !t2->isActive());

    auto items = [&](const char* name) {
      QStringList out;
      for (QAction* a : FindMenu(&window, name)->actions()) out << (a->isSeparator() ? "-" : a->text());
      return out;
    };
    QCOMPARE(items("表一鼠标右键"), QStringList({"复制订单编号", "复制旺旺", "-", "提前评价", "-", "单独评语", "-",
                                               "不自动评价", "恢复自动评价", "不自动评价该买家", "恢复自动评价该买家"}));
    QCOMPARE(items("表二鼠标右键"),
             QStringList({"复制订单编号", "复制买家旺旺", "-", "评价选中订单", "-", "打开评价网页", "评价记录"}));
    QCOMPARE(items("空白右键"), QStringList({"打开评价窗口", "评价记录"}));
    QCOMPARE(items("托盘右键"), QStringList({"显示", "隐藏", "评价记录", "-", "退出"}));
  }

  void lookupsStayInsideTheirWindow() {
    QWidget main;
    BuildWindow(&main, MainWindowLayout());
    auto* owned = new QWidget(&main, Qt::Dialog);
    BuildWindow(owned, SettingsWindowLayout());
    // Both windows have a 标签1; each lookup finds its own.
    QCOMPARE(Control<QLabel>(&main, "标签1")->text(), QString("双方未评价的订单"));
    QCOMPARE(Control<QLabel>(owned, "标签1")->text(), QString("AppKey"));
    QVERIFY(FindControl(&main, "AppKey编辑框") == nullptr);
  }

  void accountDialogTexts() {
    QWidget dialog;
    BuildWindow(&dialog, AccountDialogLayout());
    auto* close = Control<QPushButton>(&dialog, "超级按钮1");
    QCOMPARE(close->text(), QString("×"));
    QCOMPARE(close->toolTip(), QString("关闭"));
    QCOMPARE(Control<QPushButton>(&dialog, "超级按钮2")->text(), QString("登  录"));
    QCOMPARE(Control<QPushButton>(&dialog, "超级按钮2")->toolTip(), QString("登录评价软件"));
  }

  void titleStripDragsTheWindow() {
    QWidget dialog;
    BuildWindow(&dialog, AccountDialogLayout());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint before = dialog.pos();
    QWidget* strip = FindControl(&dialog, "标签2");
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 30), strip->mapToGlobal(QPointF(40, 30)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &move);
    QTest::mouseRelease(strip, Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
    QCOMPARE(dialog.pos(), before + QPoint(30, 20));
  }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
