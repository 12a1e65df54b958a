#pragma once
// How many connections of each client address have not yet sent a complete, authenticated
// request, bounded: what a slow or idle client may hold. Owned by the connection loop.
#include <string>
#include <unordered_map>

namespace srv::http {

class AddressBounds {
public:
    explicit AddressBounds(int limit) : m_limit(limit) {}

    // Counts one more connection of the address when it has room; false when it has none.
    bool take(const std::string& address)
    {
        int& n = m_counts[address];
        if (n >= m_limit) {
            if (n == 0)
                m_counts.erase(address);
            return false;
        }
        ++n;
        return true;
    }
    void give(const std::string& address)
    {
        auto it = m_counts.find(address);
        if (it != m_counts.end() && --it->second <= 0)
            m_counts.erase(it);
    }
    int limit() const { return m_limit; }
    void clear() { m_counts.clear(); }

private:
    int m_limit;
    std::unordered_map<std::string, int> m_counts;
};

} // namespace srv::http
