#include "app/LanguageUi.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <string>

namespace app {

void SetControlId(QWidget* widget, int id) { widget->setProperty(kControlIdProperty, id); }

int ControlId(const QWidget* widget) {
  const QVariant v = widget->property(kControlIdProperty);
  return v.isValid() ? v.toInt() : 0;
}

void ApplyCaptions(QWidget* window, int dialog, const LanguageResources& languages) {
  const std::string prefix = "IDD" + std::to_string(dialog) + "_";
  const std::string title = languages.Caption(prefix + "Title");
  if (!title.empty()) window->setWindowTitle(QString::fromStdString(title));
  for (QObject* child : window->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || ControlId(w) == 0) continue;
    const std::string text = languages.Caption(prefix + std::to_string(ControlId(w)));
    if (text.empty()) continue;
    const QString t = QString::fromStdString(text);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      b->setText(t);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      l->setText(t);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      g->setTitle(t);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      e->setText(t);
    } else {
      w->setWindowTitle(t);
    }
  }
}

void FillLanguageMenu(QMenu* menu, const LanguageResources& languages) {
  menu->clear();
  auto* group = new QActionGroup(menu);
  group->setExclusive(true);
  int i = 0;
  for (const auto& f : languages.List(100)) {
    if (i >= kMaxLanguageEntries) break;
    QAction* a = menu->addAction(QString::fromStdString(f.name));
    a->setCheckable(true);
    a->setChecked(f.name == languages.current_name());
    a->setData(kLanguageCommandBase + i);
    group->addAction(a);
    ++i;
  }
}

}  // namespace app
