#pragma once
// The key texts of a data set's sorted rows (DataSetIndex.cpp), every one in one block of
// characters instead of a string each: a list of a whole company has a text per row, and
// a string apiece costs more than its characters. Not part of the framework's interface.
#include <QStringView>
#include <QtGlobal>
#include <utility>
#include <vector>

namespace fw {

class KeyTexts {
public:
    size_t size() const { return m_refs.size(); }
    bool empty() const { return m_refs.empty(); }
    void clear()
    {
        m_chars.clear();
        m_refs.clear();
    }
    void reserve(size_t texts, qsizetype chars)
    {
        m_refs.reserve(texts);
        m_chars.reserve(size_t(chars));
    }
    QStringView at(size_t i) const
    {
        return QStringView(m_chars.data() + m_refs[i].first, qsizetype(m_refs[i].second));
    }

    // Appends the characters of text at the block's end, the text at place pos.
    void insert(size_t pos, QStringView text)
    {
        m_refs.insert(m_refs.begin() + qptrdiff(pos), {quint32(m_chars.size()), quint32(text.size())});
        m_chars.insert(m_chars.end(), text.utf16(), text.utf16() + text.size());
    }
    void append(QStringView text) { insert(m_refs.size(), text); }
    void erase(size_t pos) { m_refs.erase(m_refs.begin() + qptrdiff(pos)); } // its characters stay
    // Puts the texts in the order of places: the text now at order[i] goes to i.
    void reorder(const std::vector<size_t>& order)
    {
        std::vector<std::pair<quint32, quint32>> refs(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            refs[i] = m_refs[order[i]];
        m_refs = std::move(refs);
    }

private:
    std::vector<char16_t> m_chars;
    std::vector<std::pair<quint32, quint32>> m_refs; // where each text starts, and its length
};

} // namespace fw
