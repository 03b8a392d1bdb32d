// The check a module file passes before the system loader maps it: a real
// module passes, cut or forged ones fail (the loader would fault on pages
// past the end of the file), and the program's loader refuses them.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/krvHostFuncsInit.h"
#include "exthost/krvModuleCheck.h"
#include "exthostTestSupport.h"
#include "model/krvHostFuncs.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const std::vector<uint8_t> &bytes, size_t n)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(n));
}

// The end of the last loadable segment in the file.
size_t loadEnd(const std::vector<uint8_t> &image)
{
    Elf64_Ehdr eh;
    memcpy(&eh, image.data(), sizeof eh);
    size_t nEnd = 0;
    for (unsigned i = 0; i < eh.e_phnum; i++) {
        Elf64_Phdr ph;
        memcpy(&ph, image.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
        if (ph.p_type == PT_LOAD && ph.p_offset + ph.p_filesz > nEnd)
            nEnd = ph.p_offset + ph.p_filesz;
    }
    return nEnd;
}

TEST(ModuleFileCheck, RealModulePassesCutAndForgedOnesFail)
{
    const std::string real = testModulePath("kxt_full");
    std::vector<uint8_t> image = readFile(real);
    ASSERT_GT(image.size(), sizeof(Elf64_Ehdr));
    EXPECT_EQ(krvCheckModuleImage(image.data(), image.size()), 1);
    EXPECT_EQ(krvCheckModuleFile(real.c_str()), 1);
    const size_t nEnd = loadEnd(image);
    ASSERT_GT(nEnd, 3000u);

    char szTmpl[] = "/tmp/krvelfXXXXXX";
    ASSERT_NE(mkdtemp(szTmpl), nullptr);
    const std::string cut = std::string(szTmpl) + "/cut.kxm";
    // Cut anywhere before the end of the last loadable segment: refused,
    // by the image check and the file check alike; cut just after it: fine.
    for (size_t n : {size_t(0), size_t(4), sizeof(Elf64_Ehdr) - 1, sizeof(Elf64_Ehdr), size_t(3000), nEnd / 2,
                     nEnd - 1}) {
        EXPECT_EQ(krvCheckModuleImage(image.data(), n), 0) << n;
        writeFile(cut, image, n);
        EXPECT_EQ(krvCheckModuleFile(cut.c_str()), 0) << n;
    }
    EXPECT_EQ(krvCheckModuleImage(image.data(), nEnd), 1);

    // Forged headers, each on a copy of the whole module.
    auto forged = [&](void (*change)(Elf64_Ehdr &, std::vector<uint8_t> &)) {
        std::vector<uint8_t> copy = image;
        Elf64_Ehdr eh;
        memcpy(&eh, copy.data(), sizeof eh);
        change(eh, copy);
        memcpy(copy.data(), &eh, sizeof eh);
        return krvCheckModuleImage(copy.data(), copy.size());
    };
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &) { eh.e_ident[EI_MAG1] = 'e'; }), 0);
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &) { eh.e_ident[EI_CLASS] = ELFCLASS32; }), 0);
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &) { eh.e_type = ET_EXEC; }), 0);
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &) { eh.e_phoff = ~uint64_t(0) - 8; }), 0);
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &) { eh.e_phnum = 0xfff0; }), 0);
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &) { eh.e_phentsize = 32; }), 0);
    EXPECT_EQ(forged([](Elf64_Ehdr &eh, std::vector<uint8_t> &img) {
                  // A loadable segment whose offset wraps around.
                  for (unsigned i = 0; i < eh.e_phnum; i++) {
                      Elf64_Phdr ph;
                      memcpy(&ph, img.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
                      if (ph.p_type == PT_LOAD) {
                          ph.p_offset = ~uint64_t(0) - 16;
                          memcpy(img.data() + eh.e_phoff + i * sizeof ph, &ph, sizeof ph);
                          break;
                      }
                  }
              }),
              0);
    EXPECT_EQ(krvCheckModuleFile("/dev/zero"), 0);
    EXPECT_EQ(krvCheckModuleFile((std::string(szTmpl) + "/missing.kxm").c_str()), -1);

    // The program's loader refuses the cut module instead of faulting in
    // the system loader; the whole one loads.
    krvHostFuncs_t saved = *krvHost();
    krvDriverInstallHostFuncs(nullptr);
    writeFile(cut, image, 3000);
    EXPECT_EQ(krvHost()->pfnLoadLib(cut.c_str()), nullptr);
    void *pLib = krvHost()->pfnLoadLib(real.c_str());
    EXPECT_NE(pLib, nullptr);
    if (pLib)
        krvHost()->pfnFreeLib(pLib);
    krvSetHostFuncs(&saved);
    fs::remove_all(szTmpl);
}

} // namespace
