#include "SideFile.h"

#include <cstdio>

namespace nvmesim {

bool replaceSideFile(const std::string &szPath, const std::function<void(std::ofstream &)> &fWrite) {
    const std::string szTmp = szPath + ".tmp";
    {
        std::ofstream f(szTmp, std::ios::binary | std::ios::trunc);
        fWrite(f);
        if (!f.flush())
            return false;
    }
    return std::rename(szTmp.c_str(), szPath.c_str()) == 0;
}

} // namespace nvmesim
