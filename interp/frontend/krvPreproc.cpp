// Preprocessor directives met by the scanner: #include, #load and
// conditional inclusion (#if, #elif, #else, #endif) with the skipping of
// inactive text.
#include "krvScanModel.h"
#include "krvScanner.h"
#include "model/krvDiag.h"
#include "script/krvScriptFile.h"
#include "sysPath.h"

#include <cctype>
#include <cstring>
#include <string>

static void skipBlanks(krvScanner_t *pSc)
{
    while (pSc->nPos < pSc->nLen && (pSc->szLine[pSc->nPos] == ' ' || pSc->szLine[pSc->nPos] == '\t'))
        pSc->nPos++;
}

static void skipRestOfLine(krvScanner_t *pSc)
{
    pSc->nPos = pSc->nLen;
}

static krvScanInput_t *curInput(krvScanner_t *pSc)
{
    return pSc->apInputs[pSc->nDepth];
}

// Text of an #if / #elif condition from the read position: "//" ends it, a
// '\' at the end of the line joins the next line; a '\' followed by
// anything else is an error and the next line is joined all the same.
static std::string readCondition(krvScanner_t *pSc)
{
    std::string text;
    for (;;) {
        bool bJoin = false;
        while (pSc->nPos < pSc->nLen) {
            char c = pSc->szLine[pSc->nPos];
            if (c == '/' && pSc->szLine[pSc->nPos + 1] == '/') {
                skipRestOfLine(pSc);
                return text;
            }
            if (c == '\\') {
                if (pSc->nPos + 1 < pSc->nLen)
                    krvScanError(pSc, 160, "Redundant character(s) after '\\'");
                bJoin = true;
                break;
            }
            text += c;
            pSc->nPos++;
        }
        if (!bJoin)
            return text;
        if (!krvScanReadLine(pSc))
            return text;   // the end of the input is seen by the caller
    }
}

static int pushCond(krvScanner_t *pSc, int nLine, int nState)
{
    krvScanInput_t *pIn = curInput(pSc);
    if (pIn->nCond >= KRV_SCAN_COND_SIZE) {
        krvScanError(pSc, 158, "Conditional inclusion overflow");
        return 0;
    }
    pIn->aCond[pIn->nCond].nLine = nLine;
    pIn->aCond[pIn->nCond].nState = nState;
    pIn->nCond++;
    return 1;
}

// Skips inactive text line by line until a branch becomes active or the
// #if ends; only #if, #elif, #else and #endif lines are looked at.
static void skipInactive(krvScanner_t *pSc)
{
    skipRestOfLine(pSc);
    for (;;) {
        if (!krvScanReadLine(pSc)) {
            krvScanEndOfInput(pSc);
            return;
        }
        krvScanInput_t *pIn = curInput(pSc);
        skipBlanks(pSc);
        if (pSc->nPos >= pSc->nLen || pSc->szLine[pSc->nPos] != '#')
            continue;
        pSc->nPos++;
        skipBlanks(pSc);
        char szWord[8];
        int n = 0;
        while (n < 6 && pSc->nPos < pSc->nLen && isalpha(static_cast<unsigned char>(pSc->szLine[pSc->nPos])))
            szWord[n++] = pSc->szLine[pSc->nPos++];
        szWord[n] = '\0';
        int nLine = pIn->nLine;
        krvCondEntry_t *pTop = pIn->nCond > 0 ? &pIn->aCond[pIn->nCond - 1] : nullptr;
        if (strcmp(szWord, "if") == 0) {
            std::string cond = readCondition(pSc);
            krvScanEvalCondition(pSc, cond.c_str());
            pushCond(pSc, nLine, KRV_COND_SKIP_ALL);
        } else if (strcmp(szWord, "elif") == 0) {
            if (pTop && pTop->nState == KRV_COND_SKIP_TRY) {
                std::string cond = readCondition(pSc);
                if (krvScanEvalCondition(pSc, cond.c_str())) {
                    pTop->nState = KRV_COND_ACTIVE;
                    skipRestOfLine(pSc);
                    return;
                }
            }
        } else if (strcmp(szWord, "else") == 0) {
            if (pTop && pTop->nState == KRV_COND_SKIP_TRY) {
                pTop->nState = KRV_COND_ACTIVE;
                skipRestOfLine(pSc);
                return;
            }
        } else if (strcmp(szWord, "endif") == 0) {
            if (pIn->nCond == 0)
                krvScanError(pSc, 159, "Conditional inclusion underflow");
            else
                pIn->nCond--;
            if (pIn->nCond == 0 || pIn->aCond[pIn->nCond - 1].nState == KRV_COND_ACTIVE) {
                skipRestOfLine(pSc);
                return;
            }
        }
        skipRestOfLine(pSc);
    }
}

// File name word of #include / #load turned into a path joined to the
// directory of the current file. Returns 0 after reporting an error.
static int directivePath(krvScanner_t *pSc, bool bLoad, std::string &name, char *szPath)
{
    skipBlanks(pSc);
    std::string word;
    const char *pClose = pSc->szLine[pSc->nPos] == '<' ? strchr(pSc->szLine + pSc->nPos, '>') : nullptr;
    if (pClose) {
        // "<name>", blanks just inside the brackets allowed.
        word.assign(pSc->szLine + pSc->nPos, static_cast<size_t>(pClose - (pSc->szLine + pSc->nPos)) + 1);
    } else {
        while (pSc->nPos < pSc->nLen && pSc->szLine[pSc->nPos] != ' ' && pSc->szLine[pSc->nPos] != '\t')
            word += pSc->szLine[pSc->nPos++];
    }
    skipRestOfLine(pSc);   // the rest of the line is ignored
    if (word.size() >= KRV_SCAN_DIRNAME_SIZE) {
        krvScanError(pSc, 151, "%s filename is longer than %d characters", bLoad ? "loaded" : "included",
                     KRV_SCAN_DIRNAME_SIZE - 1);
        return 0;
    }
    if (word.size() < 2 || word.front() != '<' || word.back() != '>') {
        krvScanError(pSc, 151, "%s filename should be enclosed between '<' and '>'", bLoad ? "loaded" : "included");
        return 0;
    }
    name = word.substr(1, word.size() - 2);
    size_t b = name.find_first_not_of(" \t");
    size_t e = name.find_last_not_of(" \t");
    name = b == std::string::npos ? std::string() : name.substr(b, e - b + 1);
    std::string slashed = name;
    for (char &c : slashed)
        if (c == '\\')
            c = '/';
    char szDir[SYS_PATH_MAX];
    const char *szCur = curInput(pSc)->szPath;
    const char *pSlash = strrchr(szCur, '/');
    size_t nDir = pSlash ? static_cast<size_t>(pSlash - szCur) : 0;
    if (pSlash == szCur)
        nDir = 1;   // a file in the root folder
    if (nDir >= sizeof(szDir))
        nDir = 0;
    memcpy(szDir, szCur, nDir);
    szDir[nDir] = '\0';
    if (slashed.empty() || !sysPathJoin(szDir, slashed.c_str(), szPath) || szPath[0] == '\0') {
        char szShown[KRV_DIAG_PATH_SHOWN + 1];
        krvScanError(pSc, 301, "fail to open \"%s\"!", krvDiagShortPath(name.c_str(), szShown));
        return 0;
    }
    return 1;
}

static void doInclude(krvScanner_t *pSc)
{
    std::string name;
    char szPath[SYS_PATH_MAX];
    if (!directivePath(pSc, false, name, szPath))
        return;
    if (strcmp(szPath, curInput(pSc)->szPath) == 0) {
        krvScanError(pSc, 302, "file includes itself");
        pSc->bEnded = 1;
        return;
    }
    if (krvScanFileInGroup(pSc, szPath))
        return;   // each file is read once per group
    krvScriptFile_t *pFile = krvScriptOpen(szPath);
    if (!pFile) {
        char szShown[KRV_DIAG_PATH_SHOWN + 1];
        if (krvScriptNotRegular(szPath))
            krvScanError(pSc, 301, "fail to open \"%s\": not a regular file!", krvDiagShortPath(name.c_str(), szShown));
        else
            krvScanError(pSc, 301, "fail to open \"%s\"!", krvDiagShortPath(name.c_str(), szShown));
        pSc->bEnded = 1;
        return;
    }
    krvScanPushInput(pSc, pFile, nullptr, szPath);
}

static void doLoad(krvScanner_t *pSc)
{
    std::string name;
    char szPath[SYS_PATH_MAX];
    if (!directivePath(pSc, true, name, szPath))
        return;
    const char *pScript = nullptr;
    if (!krvScanLoadModule(pSc, szPath, &pScript)) {
        krvScanError(pSc, 301, "fail to load \"%s\" (%s)\n", name.c_str(), szPath);
        return;
    }
    if (!pScript)
        return;
    std::string textName = std::string(szPath) + ".krv";
    if (krvScanFileInGroup(pSc, textName.c_str()))
        return;   // the module's text has been read already
    krvScanPushInput(pSc, nullptr, pScript, textName.c_str());
}

void krvScanDirective(krvScanner_t *pSc)
{
    krvScanInput_t *pIn = curInput(pSc);
    int nLine = pIn->nLine;
    pSc->nPos++;   // '#'
    skipBlanks(pSc);
    std::string word = "#";
    while (pSc->nPos < pSc->nLen && isalpha(static_cast<unsigned char>(pSc->szLine[pSc->nPos]))) {
        if (word.size() < KRV_SCAN_TOKEN_MAX)
            word += pSc->szLine[pSc->nPos];
        pSc->nPos++;
    }
    if (word == "#include") {
        doInclude(pSc);
    } else if (word == "#load") {
        doLoad(pSc);
    } else if (word == "#if") {
        std::string cond = readCondition(pSc);
        int bTrue = krvScanEvalCondition(pSc, cond.c_str());
        skipRestOfLine(pSc);
        if (pushCond(pSc, nLine, bTrue ? KRV_COND_ACTIVE : KRV_COND_SKIP_TRY) && !bTrue)
            skipInactive(pSc);
    } else if (word == "#elif") {
        if (pIn->nCond == 0) {
            krvScanError(pSc, 154, "#elif without #if");
            skipRestOfLine(pSc);
            return;
        }
        std::string cond = readCondition(pSc);
        krvScanEvalCondition(pSc, cond.c_str());   // for its errors only
        pIn->aCond[pIn->nCond - 1].nState = KRV_COND_SKIP_ALL;
        skipInactive(pSc);
    } else if (word == "#else") {
        if (pIn->nCond == 0) {
            krvScanError(pSc, 155, "#else without #if");
            skipRestOfLine(pSc);
            return;
        }
        pIn->aCond[pIn->nCond - 1].nState = KRV_COND_SKIP_ALL;
        skipInactive(pSc);
    } else if (word == "#endif") {
        if (pIn->nCond == 0)
            krvScanError(pSc, 156, "#endif without #if");
        else
            pIn->nCond--;
        skipRestOfLine(pSc);
    } else {
        krvScanError(pSc, 150, "unknown preprocessor directive \"%s\"", word.c_str());
        skipRestOfLine(pSc);
    }
}
