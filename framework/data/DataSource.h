#pragma once

#include "framework/data/Dataset.h"
#include <QObject>

#include <QPointer>

namespace fw {

// Links data-aware controls to a dataset.
class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(QObject* parent = nullptr) : QObject(parent) {}
    void setDataSet(Dataset* dataset) {
        if (m_dataset == dataset)
            return;
        m_dataset = dataset;
        emit dataSetChanged();
    }
    Dataset* dataSet() const { return m_dataset; }

signals:
    void dataSetChanged();

private:
    QPointer<Dataset> m_dataset;
};

} // namespace fw
