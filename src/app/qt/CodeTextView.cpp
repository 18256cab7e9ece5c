#include "app/qt/CodeTextView.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QMimeData>

namespace corvane {

CodeTextView::CodeTextView(QWidget *parent) : QPlainTextEdit(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTabChangesFocus(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTabStopDistance(QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' ')) * 4);
    setUndoRedoEnabled(true);
}

void CodeTextView::insertFromMimeData(const QMimeData *source)
{
    if (source && source->hasText()) {
        insertPlainText(source->text());
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

} // namespace corvane
