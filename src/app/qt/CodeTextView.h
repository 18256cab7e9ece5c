#pragma once

#include <QPlainTextEdit>

namespace corvane {

// A plain-text editor for code: fixed-pitch font, Tab inserts a tab, Return
// breaks the line, and a paste of styled text arrives as its plain text.
class CodeTextView : public QPlainTextEdit {
public:
    explicit CodeTextView(QWidget *parent = nullptr);

protected:
    void insertFromMimeData(const QMimeData *source) override;
};

} // namespace corvane
