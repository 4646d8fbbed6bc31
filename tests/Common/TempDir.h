#ifndef VQ_TESTS_COMMON_TEMPDIR_H
#define VQ_TESTS_COMMON_TEMPDIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vqtest_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const char* made = mkdtemp(buffer.data());
        m_oPath = made ? made : "";
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!m_oPath.empty())
            std::filesystem::remove_all(m_oPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return m_oPath + "/" + name; }
    const std::string& Path() const { return m_oPath; }
    size_t EntryCount() const
    {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_oPath),
                                                 std::filesystem::directory_iterator()));
    }

    static std::vector<unsigned char> ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

private:
    std::string m_oPath;
};

#endif
