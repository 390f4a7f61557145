// Renders a table model as plain text columns for a terminal: a header line, then one line
// per row; check-box cells read "[x]" or "[ ]", and a cell the model highlights (the side
// that will win, PMPreviewTableDataSource::HighlightRole) is marked with a trailing "*".
//
//   std::cout << qPrintable(PMPreviewTextTable::render(preview));
//
// Reentrant; reads the model on the calling thread.
#pragma once

#include <QString>

class QAbstractItemModel;

class PMPreviewTextTable {
public:
    // Lines end with "\n"; columns are separated by two spaces; trailing blanks are dropped.
    static QString render(const QAbstractItemModel &model);
};
