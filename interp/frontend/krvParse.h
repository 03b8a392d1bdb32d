// Parsing of a script group: the parse driver, and the parser's file stack
// that follows the scanner through included files and module text.
#pragma once

struct krvEnv_t;
struct parseFileInfo_t;

// Parses the group rooted at szPath. Returns the environment already in the
// environment table for that path, or the new one (added to the table), or
// NULL when the main file cannot be opened ("Error Fail to open ...") or
// the group has a syntax error (then everything it made is discarded and
// its modules are released). Declaration errors are reported and leave the
// environment in place; the last diagnostic id tells the caller.
krvEnv_t *krvParseScriptGroup(const char *szPath);

// The same on script text in memory named szName (relative #include and
// #load names resolve against szName's folder). The environment is not
// added to the environment table; free it with krvParseDiscardGroup.
krvEnv_t *krvParseScriptText(const char *szName, const char *szText);

// Releases a group's modules, frees its environment and empties the object
// model (the global namespace gets its predefined variables back).
void krvParseDiscardGroup(krvEnv_t *pEnv);

// Parser file stack. Push: 1, or 0 when refused (stack full or the group's
// file list full, reported). A path already in the group is an internal
// error. Pop with nothing pushed is an internal error.
int krvParserPushFile(parseFileInfo_t *pFi, const char *szPath);
void krvParserPopFile(parseFileInfo_t *pFi);
