// Module file check: the ELF header and program headers of a module,
// checked against the size of the file before it is handed to the loader.
#include "exthost/krvModuleCheck.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// The range [nOffset, nOffset + nLength) lies inside a file of nSize bytes.
bool inside(uint64_t nOffset, uint64_t nLength, uint64_t nSize)
{
    return nOffset <= nSize && nLength <= nSize - nOffset;
}

// Where the program header table lies, or false when the header is not
// that of a 64-bit shared object of this byte order with a table inside
// the file.
bool checkHeader(const Elf64_Ehdr &eh, uint64_t nFileSize, uint64_t *pnTableSize)
{
    if (memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
        return false;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (eh.e_ident[EI_DATA] != ELFDATA2LSB)
        return false;
#else
    if (eh.e_ident[EI_DATA] != ELFDATA2MSB)
        return false;
#endif
    if (eh.e_type != ET_DYN || eh.e_ehsize < sizeof(Elf64_Ehdr) || eh.e_phentsize != sizeof(Elf64_Phdr))
        return false;
    if (eh.e_phnum == 0 || eh.e_phnum == PN_XNUM)
        return false;
    uint64_t nTable = uint64_t(eh.e_phnum) * sizeof(Elf64_Phdr);
    if (!inside(eh.e_phoff, nTable, nFileSize))
        return false;
    *pnTableSize = nTable;
    return true;
}

// Every loadable segment (and the dynamic section) lies inside the file;
// at least one segment is loadable.
bool checkSegments(const Elf64_Phdr *pPh, unsigned nCount, uint64_t nFileSize)
{
    unsigned nLoad = 0;
    for (unsigned i = 0; i < nCount; i++) {
        const Elf64_Phdr &ph = pPh[i];
        if (ph.p_type != PT_LOAD && ph.p_type != PT_DYNAMIC)
            continue;
        if (!inside(ph.p_offset, ph.p_filesz, nFileSize))
            return false;
        if (ph.p_type == PT_LOAD) {
            if (ph.p_filesz > ph.p_memsz)
                return false;
            nLoad++;
        }
    }
    return nLoad > 0;
}

// pread until nLength bytes are read; false on an error or a short file.
bool readAt(int fd, void *pBuf, size_t nLength, uint64_t nOffset)
{
    auto *p = static_cast<char *>(pBuf);
    while (nLength > 0) {
        ssize_t n = pread(fd, p, nLength, static_cast<off_t>(nOffset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        nLength -= static_cast<size_t>(n);
        nOffset += static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace

int krvCheckModuleImage(const uint8_t *pImage, size_t nSize)
{
    if (pImage == nullptr || nSize < sizeof(Elf64_Ehdr))
        return 0;
    Elf64_Ehdr eh;
    memcpy(&eh, pImage, sizeof eh);
    uint64_t nTable = 0;
    if (!checkHeader(eh, nSize, &nTable))
        return 0;
    std::vector<Elf64_Phdr> ph(eh.e_phnum);
    memcpy(ph.data(), pImage + eh.e_phoff, nTable);
    return checkSegments(ph.data(), eh.e_phnum, nSize) ? 1 : 0;
}

int krvCheckModuleFile(const char *szPath)
{
    if (szPath == nullptr)
        return -1;
    int fd = open(szPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    int rc = 0;
    struct stat st;
    Elf64_Ehdr eh;
    uint64_t nTable = 0;
    if (fstat(fd, &st) != 0) {
        rc = -1;
    } else if (S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(sizeof eh) &&
               readAt(fd, &eh, sizeof eh, 0) && checkHeader(eh, static_cast<uint64_t>(st.st_size), &nTable)) {
        std::vector<Elf64_Phdr> ph(eh.e_phnum);
        rc = readAt(fd, ph.data(), nTable, eh.e_phoff) &&
                     checkSegments(ph.data(), eh.e_phnum, static_cast<uint64_t>(st.st_size))
                 ? 1
                 : 0;
    }
    close(fd);
    return rc;
}
