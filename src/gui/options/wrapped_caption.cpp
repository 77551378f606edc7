#include "gui/options/wrapped_caption.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

#include "gui/app/widget_text.h"

namespace remoteccm::gui {
namespace {

// Turns a click on the caption into a click on its button.
class CaptionClick : public QObject {
 public:
  CaptionClick(QLabel* caption, QAbstractButton* button) : QObject(caption), button_(button) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease && button_->isEnabled()) button_->click();
    return QObject::eventFilter(watched, event);
  }

 private:
  QAbstractButton* button_;
};

}  // namespace

QBoxLayout* WithWrappingCaption(QAbstractButton* button, const QString& caption, const char* name) {
  button->setText(QString());
  button->setAccessibleName(caption);
  auto* label = Named(new QLabel(caption, button->parentWidget()), name);
  label->setWordWrap(true);
  label->installEventFilter(new CaptionClick(label, button));
  auto* row = new QHBoxLayout;
  row->setSpacing(button->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing));
  row->addWidget(button, 0, Qt::AlignTop);
  row->addWidget(label, 1);
  return row;
}

}  // namespace remoteccm::gui
