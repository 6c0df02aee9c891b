// Final paths of open files (see FinalPath.h).
#include "restore/FinalPath.h"
#include "platform/SysCalls.h"
#include "restore/LocationRules.h"
#include <vector>

namespace {

// The longest path Windows has (with the long-path prefix), so that one call always
// suffices: a path is never cut, and no second call can answer differently.
const DWORD kLongestPath = 32768;

template <class Ask>
bool AskWhole(Ask ask, std::wstring& out)
{
    std::vector<wchar_t> buffer(kLongestPath);
    DWORD length = ask(buffer.data(), kLongestPath);
    if (length == 0)
        return false;
    if (length >= kLongestPath) {
        g_Sys.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    out.assign(buffer.data(), length);
    return true;
}

} // namespace

bool CIntendedFolder::Holds(const std::wstring& finalPath, const std::wstring& leaf) const
{
    if (IsSamePath(finalPath, m_sFolder + leaf))
        return true;
    if (m_sLongFolder.empty()) {
        const wchar_t* folder = m_sFolder.c_str();
        bool found = AskWhole([folder](wchar_t* buffer, DWORD size) {
            return g_Sys.GetLongPathNameW(folder, buffer, size);
        }, m_sLongFolder);
        if (!found || m_sLongFolder.empty())
            m_sLongFolder = m_sFolder;
        if (m_sLongFolder.back() != L'\\')
            m_sLongFolder += L'\\';
    }
    return m_sLongFolder != m_sFolder && IsSamePath(finalPath, m_sLongFolder + leaf);
}

bool FinalPathOf(HANDLE h, std::wstring& path)
{
    return AskWhole([h](wchar_t* buffer, DWORD size) {
        return g_Sys.GetFinalPathNameByHandleW(h, buffer, size,
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }, path);
}

bool IsSamePath(const std::wstring& a, const std::wstring& b)
{
    std::wstring left = WithoutLongPrefix(a);
    std::wstring right = WithoutLongPrefix(b);
    return g_Sys.CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                      static_cast<int>(right.size()),
                                      /*bIgnoreCase=*/TRUE) == CSTR_EQUAL;
}
