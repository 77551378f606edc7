#include "gui/options/conn_string_edit.h"

#include <QEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionFrame>

#include "gui/app/widget_text.h"
#include "platform/db/connection_string.h"

namespace remoteccm::gui {

ConnectionStringEdit::ConnectionStringEdit(QWidget* parent)
    : QLineEdit(parent), masked_(new QLabel(this)) {
  masked_->setObjectName(QStringLiteral("MaskedText"));
  // A click goes to the edit below, which takes the focus and shows the text as it is.
  masked_->setAttribute(Qt::WA_TransparentForMouseEvents);
  masked_->setAutoFillBackground(true);
  masked_->setBackgroundRole(QPalette::Base);
  masked_->setForegroundRole(QPalette::Text);
  masked_->setTextFormat(Qt::PlainText);
  connect(this, &QLineEdit::textChanged, this, &ConnectionStringEdit::ShowMasked);
  ShowMasked();
}

QString ConnectionStringEdit::ShownText() const {
  return masked_->isVisible() ? masked_text_ : text();
}

void ConnectionStringEdit::ShowMasked() {
  masked_text_ = Q(MaskConnectionPasswords(S(text())));
  const QString& masked = masked_text_;
  const bool shown = !hasFocus() && masked != text();
  if (shown) {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect area = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    // The edit's own text starts a little inside its contents: the masked one starts there too.
    constexpr int kTextMargin = 2;
    masked_->setGeometry(area);
    masked_->setContentsMargins(kTextMargin, 0, kTextMargin, 0);
    masked_->setText(
        masked_->fontMetrics().elidedText(masked, Qt::ElideRight, area.width() - 2 * kTextMargin));
    masked_->setEnabled(isEnabled());
  }
  masked_->setVisible(shown);
}

void ConnectionStringEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  ShowMasked();
}

void ConnectionStringEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  ShowMasked();
}

void ConnectionStringEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  ShowMasked();
}

void ConnectionStringEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange) {
    ShowMasked();
  }
}

}  // namespace remoteccm::gui
