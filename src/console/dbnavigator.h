// DBNaV: the record navigator over the console's result (first, prior, next,
// last, insert, delete, edit, post, cancel, refresh).
#pragma once

#include <QWidget>

class QToolButton;

namespace dv {

class ResultGrid;
class ResultModel;

class DbNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh, ButtonCount };

    explicit DbNavigator(QWidget *parent = nullptr);
    // Binds the navigator to the grid and its model (the data source).
    void bind(ResultGrid *grid, ResultModel *model);
    QToolButton *button(Button b) const { return m_buttons[b]; }
    // Enables each button as the current state of the result allows.
    void updateButtons();
    // What a click on `b` does (also when it is disabled: callers check).
    void trigger(Button b);

private:
    QToolButton *m_buttons[ButtonCount] = {};
    ResultGrid *m_grid = nullptr;
    ResultModel *m_model = nullptr;
};

} // namespace dv
