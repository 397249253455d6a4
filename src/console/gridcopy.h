// The text that copying cells of the console's grid puts on the clipboard:
// tab-separated fields, CR LF between rows, so that a paste into a
// spreadsheet or an editor lands cell by cell.
#pragma once

#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

namespace dv {

class ResultModel;

// Appends `value` as one field: tabs and line breaks inside it become single
// spaces (a CR LF pair is one break).
void appendClipboardField(QString &out, QStringView value);

// The cells of `rows` x `columns` (grid positions, in grid order), with the
// column titles as the first line when `withTitles`. NULL is an empty field;
// so is a cell for which `selected` (when given) says no, which keeps the
// fields of a ragged selection in their columns.
QString clipboardText(const ResultModel &model, const std::vector<int> &rows, const std::vector<int> &columns,
                      bool withTitles, const std::function<bool(int row, int column)> &selected = {});

} // namespace dv
