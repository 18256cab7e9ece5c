#pragma once

#include <QString>

class QFileDialog;

namespace corvane::FilePanelLayout {

// Gives a file dialog, when it first shows, the size and column widths the
// user last left the panel named `identifier` with; else columns that show a
// name and each file's size, type and date whole, and a size that shows
// them. What the user changes is kept, beside the panel's folder, when the
// panel closes. Call before the dialog shows.
void apply(QFileDialog &dialog, const QString &identifier);

// The keys of the standard user defaults the size ("640x480") and the
// column widths are kept under.
QString sizeKey(const QString &identifier);
QString columnsKey(const QString &identifier);

} // namespace corvane::FilePanelLayout
