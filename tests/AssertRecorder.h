#ifndef VQ_TESTS_ASSERT_RECORDER_H
#define VQ_TESTS_ASSERT_RECORDER_H

#include "Common/VQAssert.h"

#include <string>
#include <vector>

// Installs a handler that records every assertion report for the lifetime of
// the object and answers false, so the code under test goes on. Restores the
// previous handler on destruction. Tests run on one thread.
class AssertRecorder {
public:
    struct Report {
        std::string text;
        std::string file;
        int line;
    };

    AssertRecorder() : m_previous(VQSetAssertHandler(&Record)) { Current() = this; }
    ~AssertRecorder()
    {
        VQSetAssertHandler(m_previous);
        Current() = nullptr;
    }
    AssertRecorder(const AssertRecorder&) = delete;
    AssertRecorder& operator=(const AssertRecorder&) = delete;

    const std::vector<Report>& Reports() const { return m_reports; }
    size_t Count() const { return m_reports.size(); }
    bool Has(const std::string& text) const
    {
        for (const Report& r : m_reports)
            if (r.text == text)
                return true;
        return false;
    }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> out;
        for (const Report& r : m_reports)
            out.push_back(r.text);
        return out;
    }
    void Clear() { m_reports.clear(); }

private:
    static AssertRecorder*& Current()
    {
        static AssertRecorder* current = nullptr;
        return current;
    }
    static bool Record(const char* text, const char* file, int line)
    {
        if (Current())
            Current()->m_reports.push_back({text ? text : "", file ? file : "", line});
        return false;
    }

    VQAssertHandler m_previous;
    std::vector<Report> m_reports;
};

#endif
