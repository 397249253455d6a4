#include "gridcopy.h"

#include "resultmodel.h"

namespace dv {

void appendClipboardField(QString &out, QStringView value)
{
    const qsizetype n = value.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = value[i];
        if (c != u'\t' && c != u'\r' && c != u'\n')
            continue;
        out.append(value.mid(start, i - start));
        out.append(u' ');
        if (c == u'\r' && i + 1 < n && value[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    out.append(value.mid(start));
}

QString clipboardText(const ResultModel &model, const std::vector<int> &rows, const std::vector<int> &columns,
                      bool withTitles, const std::function<bool(int, int)> &selected)
{
    QString out;
    if (columns.empty())
        return out;
    // A rough guess of the size keeps the growth of a large copy to a few
    // reallocations.
    out.reserve(qsizetype(qMin<qint64>(qint64(rows.size() + 1) * qint64(columns.size()) * 12, 1LL << 28)));
    bool first = true;
    auto line = [&](auto &&field) {
        if (!first)
            out.append(QLatin1String("\r\n"));
        first = false;
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i > 0)
                out.append(u'\t');
            field(columns[i]);
        }
    };
    if (withTitles)
        line([&](int c) { appendClipboardField(out, model.headerData(c, Qt::Horizontal).toString()); });
    // One buffer for every formatted cell; text cells are read in place.
    QString buffer;
    for (int r : rows)
        line([&](int c) {
            if (!selected || selected(r, c))
                appendClipboardField(out, model.cellTextView(r, c, buffer));
        });
    return out;
}

} // namespace dv
