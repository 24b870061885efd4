#pragma once

#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>

namespace fw {

// A dataset's row filter: the expression  col='text' or col='text' ...  where
// a column may be written [in brackets] and a quote inside a text is doubled.
// A row passes when one of its named columns holds the text, compared without
// regard to case as the catalog's collation compares; a null passes none.
// An empty expression lets every row pass.
class RowFilter {
public:
    struct Term {
        QString column;
        QString text;
        bool operator==(const Term&) const = default;
    };

    RowFilter() = default;
    // Raises fw::Error for an expression it cannot read.
    static RowFilter parse(const QString& expression);

    const QVector<Term>& terms() const { return m_terms; }
    bool isEmpty() const { return m_terms.isEmpty(); }
    // valueOf(k) gives the row's value of the column of term k.
    bool passes(const std::function<QVariant(int)>& valueOf) const;

private:
    QVector<Term> m_terms;
};

} // namespace fw
