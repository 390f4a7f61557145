// A table view that swallows the Delete and Backspace keys, pressed or released, so neither
// the table (which would start editing) nor the window acts on them. Every other key reaches
// QTableView as usual.
//
// Main thread.
#pragma once

#include <QTableView>

class LUMTableView : public QTableView {
    Q_OBJECT

public:
    explicit LUMTableView(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    static bool isDeleteKey(const QKeyEvent *event);
};
