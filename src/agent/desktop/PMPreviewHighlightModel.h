// The preview table's rows as a view draws them: the cell of the side that will win gets the
// highlight colour as its background, a check-box cell shows no text beside its box;
// everything else is the agent's model unchanged.
//
//   PMPreviewHighlightModel shown(request.highlightRole);
//   shown.setSourceModel(request.changes);
//
// Main thread.
#pragma once

#include <QColor>
#include <QIdentityProxyModel>

class PMPreviewHighlightModel : public QIdentityProxyModel {
    Q_OBJECT
public:
    static QColor highlightColor() { return QColor::fromRgbF(0.6f, 0.7f, 0.6f, 1.0f); }

    // highlightRole: the source's boolean role that marks the winning side's cell.
    explicit PMPreviewHighlightModel(int highlightRole, QObject *parent = nullptr);

    // BackgroundRole: the highlight colour where the source marks the cell, else none (the
    // table's own background).
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    int m_highlightRole;
};
