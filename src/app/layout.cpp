#include "app/layout.h"

#include <utility>

namespace qm {

ControlLayout MakeControl(std::string name, ControlKind kind, std::string text, int left, int top, int width,
                          int height, std::string frame) {
  ControlLayout c;
  c.name = std::move(name);
  c.kind = kind;
  c.text = std::move(text);
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  c.frame = std::move(frame);
  if (kind == ControlKind::FlatButton) c.font = FontFace::YaHei;
  return c;
}

namespace {

using K = ControlKind;
using F = FontFace;
ControlLayout C(std::string name, K kind, std::string text, int left, int top, int width, int height,
                std::string frame = {}) {
  return MakeControl(std::move(name), kind, std::move(text), left, top, width, height, std::move(frame));
}


ControlLayout NoView(std::string name, K kind) { return C(std::move(name), kind, {}, 0, 0, 0, 0); }

ControlLayout Hand(ControlLayout c) {
  c.handCursor = true;
  return c;
}

ControlLayout Drag(ControlLayout c) {
  c.dragsWindow = true;
  return c;
}

ControlLayout WithFont(ControlLayout c, F face, int points = 9, bool bold = false) {
  c.font = face;
  c.fontPoints = points;
  c.bold = bold;
  return c;
}

ControlLayout Icon(ControlLayout c) {
  c.picture = PictureContent::ProgramIcon;
  return c;
}

ControlLayout Tip(ControlLayout c, std::string tip) {
  c.toolTip = std::move(tip);
  return c;
}

WindowLayout MakeMainWindow() {
  WindowLayout w;
  w.name = "MainWindow";
  w.title = "Quillmere";
  w.width = 739;
  w.height = 619;
  auto& v = w.controls;
  v.push_back(Drag(C("标签4", K::Label, "", 0, 0, 739, 619)));
  v.push_back(Icon(C("图片框1", K::Picture, "", 10, 9, 32, 32)));
  v.push_back(Drag(WithFont(C("标签5", K::Label, "", 48, 13, 368, 24), F::YaHei, 11, true)));
  v.push_back(WithFont(C("标签3", K::Label, "", 424, 17, 216, 16), F::YaHei));
  v.push_back(Hand(C("超级按钮2", K::FlatButton, "─", 642, 15, 40, 20)));
  v.push_back(Hand(C("超级按钮1", K::FlatButton, "×", 690, 15, 40, 20)));
  v.push_back(Hand(C("超级按钮4", K::FlatButton, "系统设置", 652, 52, 72, 28)));
  v.push_back(C("外形框1", K::Frame, "", 8, 48, 413, 564));
  v.push_back(WithFont(C("标签1", K::Label, "双方未评价的订单", 11, 8, 136, 24, "外形框1"), F::YaHei, 9, true));
  {
    ControlLayout list = C("超级列表框1", K::ListView, "", 5, 35, 403, 524, "外形框1");
    list.columns = {{"订单编号", 120}, {"买家旺旺", 150}, {"确认时间", 0}, {"到期", 110}};
    v.push_back(list);
  }
  v.push_back(C("外形框2", K::Frame, "", 423, 48, 309, 564));
  v.push_back(WithFont(C("标签2", K::Label, "对方已评价，我没评价的订单", 12, 8, 216, 24, "外形框2"), F::YaHei, 9,
                       true));
  {
    ControlLayout list = C("超级列表框2", K::ListView, "", 6, 35, 296, 524, "外形框2");
    list.columns = {{"订单编号", 120}, {"买家旺旺", 150}};
    list.multiSelect = true;
    v.push_back(list);
  }
  {
    ControlLayout box = C("外形框3", K::Frame, "", 57, 120, 184, 104, "外形框2");
    box.shown = false;
    v.push_back(box);
  }
  v.push_back(WithFont(C("标签6", K::Label, "", 0, 0, 160, 24, "外形框3"), F::YaHei, 9, true));
  v.push_back(C("标签7", K::Label, "", 0, 24, 184, 80, "外形框3"));
  v.push_back(Hand(WithFont(C("标签8", K::Label, "×", 160, 0, 24, 24, "外形框3"), F::YaHei, 11)));
  {
    ControlLayout busy = C("图片框2", K::Picture, "", 172, 246, 90, 90);
    busy.shown = false;
    busy.picture = PictureContent::Busy;
    v.push_back(busy);
  }
  v.push_back(NoView("时钟1", K::Timer));
  v.push_back(NoView("时钟2", K::Timer));
  v.push_back(NoView("外部数据库1", K::Database));
  v.push_back(NoView("超级菜单1", K::MenuSkin));

  w.menus = {
      {"表一鼠标右键",
       {"复制订单编号", "复制旺旺", "-", "提前评价", "-", "单独评语", "-", "不自动评价", "恢复自动评价", "不自动评价该买家",
        "恢复自动评价该买家"}},
      {"表二鼠标右键", {"复制订单编号", "复制买家旺旺", "-", "评价选中订单", "-", "打开评价网页", "评价记录"}},
      {"空白右键", {"打开评价窗口", "评价记录"}},
      {"托盘右键", {"显示", "隐藏", "评价记录", "-", "退出"}},
  };
  return w;
}

WindowLayout MakeAuthWindow() {
  WindowLayout w;
  w.name = "AuthWindow";
  w.title = "淘宝评价登录";
  w.width = 440;
  w.height = 516;
  auto& v = w.controls;
  v.push_back(Drag(C("标签2", K::Label, "", 0, 0, 440, 516)));
  v.push_back(Icon(C("图片框1", K::Picture, "", 8, 8, 32, 32)));
  v.push_back(Drag(WithFont(C("标签1", K::Label, "", 48, 12, 264, 24), F::YaHei, 11, true)));
  v.push_back(Hand(C("超级按钮1", K::FlatButton, "×", 376, 12, 44, 20)));
  v.push_back(C("外形框1", K::Frame, "", 4, 45, 432, 464));
  v.push_back(C("超文本浏览框1", K::Browser, "", -104, -250, 648, 728, "外形框1"));
  v.push_back(NoView("时钟1", K::Timer));
  v.push_back(NoView("时钟2", K::Timer));
  return w;
}

WindowLayout MakeRatingPageWindow() {
  WindowLayout w;
  w.name = "RatingPageWindow";
  w.title = "评价修改窗口";
  w.width = 1057;
  w.height = 695;
  auto& v = w.controls;
  v.push_back(Icon(C("图片框1", K::Picture, "", 8, 8, 32, 32)));
  v.push_back(Drag(WithFont(C("标签1", K::Label, "", 48, 12, 264, 24), F::YaHei, 11, true)));
  v.push_back(Hand(C("超级按钮5", K::FlatButton, "评价主页", 320, 8, 88, 32)));
  v.push_back(Hand(C("超级按钮6", K::FlatButton, "刷新页面", 416, 8, 88, 32)));
  v.push_back(Hand(C("超级按钮7", K::FlatButton, "停  止", 512, 8, 88, 32)));
  v.push_back(Hand(C("超级按钮1", K::FlatButton, "返回上页", 640, 8, 88, 32)));
  v.push_back(Hand(C("超级按钮2", K::FlatButton, "前往下页", 736, 8, 88, 32)));
  v.push_back(Hand(C("超级按钮4", K::FlatButton, "未修改关闭", 864, 8, 88, 32)));
  v.push_back(Hand(C("超级按钮3", K::FlatButton, "修改完关闭", 960, 8, 88, 32)));
  v.push_back(C("超文本浏览框1", K::Browser, "", 8, 47, 1040, 640));
  return w;
}

WindowLayout MakeAccountDialog() {
  WindowLayout w;
  w.name = "AccountDialog";
  // Drawn by the title strip; the window list and the task bar show this.
  w.title = "登录Quillmere";
  w.width = 380;
  w.height = 250;
  auto& v = w.controls;
  v.push_back(Icon(C("图片框1", K::Picture, "", 0, 0, 32, 32)));
  v.push_back(Drag(WithFont(C("标签2", K::Label, " 登录Quillmere", 37, 0, 123, 32), F::YaHei, 10, true)));
  v.push_back(Hand(Tip(C("超级按钮1", K::FlatButton, "×", 336, 8, 32, 16), "关闭")));
  v.push_back(WithFont(C("标签1", K::Label, "卖家帐号登录", 126, 76, 128, 24), F::YaHei, 12, true));
  v.push_back(WithFont(C("组合框1", K::Combo, "", 73, 110, 234, 29), F::Song, 11));
  v.push_back(Hand(Tip(WithFont(C("超级按钮2", K::FlatButton, "登  录", 140, 168, 100, 36), F::YaHei, 11, true),
                       "登录评价软件")));
  // A new seller's way in: the key, the secret and the name in one form.
  v.push_back(Hand(Tip(C("超级按钮3", K::FlatButton, "添加帐号", 100, 214, 80, 24), "新建一个卖家帐号：填写AppKey、AppSecret和卖家旺旺ID")));
  v.push_back(Hand(Tip(C("超级按钮4", K::FlatButton, "删除帐号", 200, 214, 80, 24),
                       "从Config.ini中删除帐号框中的帐号；它的订单数据和评价内容等文件保留")));
  return w;
}

WindowLayout MakeSettingsWindow() {
  WindowLayout w;
  w.name = "SettingsWindow";
  w.title = "系统设置";
  w.width = 696;
  w.height = 240;
  auto& v = w.controls;
  v.push_back(Drag(WithFont(C("标签5", K::Label, "               系统设置", -16, 0, 712, 40), F::YaHei, 11, true)));
  v.push_back(Icon(C("图片框1", K::Picture, "", 3, 4, 32, 32)));
  v.push_back(C("超级按钮2", K::FlatButton, "×", 656, 11, 32, 18));
  v.push_back(C("外形框1", K::Frame, "", 8, 48, 240, 184));
  v.push_back(WithFont(C("标签4", K::Label, "淘宝API基本设置", 66, 12, 108, 16, "外形框1"), F::YaHei, 9, true));
  v.push_back(C("标签1", K::Label, "AppKey", 32, 39, 40, 24, "外形框1"));
  v.push_back(C("AppKey编辑框", K::Edit, "", 72, 39, 152, 24, "外形框1"));
  v.push_back(C("标签2", K::Label, "AppSecret", 14, 71, 56, 24, "外形框1"));
  v.push_back(C("AppSecret编辑框", K::Edit, "", 72, 71, 152, 33, "外形框1"));
  v.push_back(C("标签6", K::Label, "卖家旺旺ID", 8, 113, 64, 24, "外形框1"));
  v.push_back(C("旺旺ID编辑框1", K::Edit, "", 72, 113, 152, 24, "外形框1"));
  v.push_back(C("超级按钮1", K::FlatButton, "设置API信息", 84, 146, 72, 20, "外形框1"));
  v.push_back(C("外形框2", K::Frame, "", 256, 48, 432, 184));
  v.push_back(C("标签7", K::Label,
                "如果买家在买时有争议，觉得会给差评，就把事先准备好的评价添加进去。在手动评价时，系统将自动为订单调用"
                "该条评价内容。",
                12, 7, 414, 36, "外形框2"));
  v.push_back(C("标签9", K::Label, "订单ID", 10, 50, 40, 24, "外形框2"));
  // Wide enough for an order number of 16 digits and more.
  v.push_back(C("订单ID编辑框", K::Edit, "", 50, 50, 150, 24, "外形框2"));
  v.push_back(C("标签8", K::Label, "评价内容(请不要换行)", 210, 49, 128, 24, "外形框2"));
  v.push_back(C("超级按钮3", K::FlatButton, "添加订单", 346, 49, 72, 23, "外形框2"));
  {
    ControlLayout box = C("评价内容编辑框", K::Edit, "", 10, 72, 414, 104, "外形框2");
    box.multiLine = true;
    v.push_back(box);
  }
  return w;
}

}  // namespace

const ControlLayout* WindowLayout::Find(const std::string& controlName) const {
  for (const auto& c : controls) {
    if (c.name == controlName) return &c;
  }
  return nullptr;
}

const MenuLayout* WindowLayout::FindMenu(const std::string& menuName) const {
  for (const auto& m : menus) {
    if (m.name == menuName) return &m;
  }
  return nullptr;
}

const WindowLayout& MainWindowLayout() {
  static const WindowLayout w = MakeMainWindow();
  return w;
}
const WindowLayout& AuthWindowLayout() {
  static const WindowLayout w = MakeAuthWindow();
  return w;
}
const WindowLayout& RatingPageWindowLayout() {
  static const WindowLayout w = MakeRatingPageWindow();
  return w;
}
const WindowLayout& AccountDialogLayout() {
  static const WindowLayout w = MakeAccountDialog();
  return w;
}
const WindowLayout& SettingsWindowLayout() {
  static const WindowLayout w = MakeSettingsWindow();
  return w;
}

std::vector<const WindowLayout*> AllWindowLayouts() {
  return {&MainWindowLayout(), &AuthWindowLayout(), &RatingPageWindowLayout(), &AccountDialogLayout(),
          &SettingsWindowLayout()};
}

}  // namespace qm
