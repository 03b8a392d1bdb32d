// Singly linked name lists: namespace qualifications, tag lists, parameter
// type qualifications. A qualification that starts with "::" begins with an
// empty name (the global namespace).
#pragma once

struct krvNameList_t {
    char *szName;             // owned copy
    krvNameList_t *next;
};

// New element holding a copy of sz, in front of pNext. NULL when out of memory.
krvNameList_t *krvNewNameList(const char *sz, krvNameList_t *pNext);
// Appends a new element at the end of the list; returns the (new) head, or
// NULL when out of memory (the list is then unchanged).
krvNameList_t *krvNameListAppend(krvNameList_t *pHead, const char *sz);
krvNameList_t *krvCopyNameList(const krvNameList_t *p);   // deep copy; NULL for NULL or no memory
int krvNameListContains(const krvNameList_t *p, const char *sz);
void krvFreeNameList(krvNameList_t *p);

// Qualified name parse: "a::b::c" gives the list c, a, b (the last component
// first, then the others in source order); "x" gives x alone; a leading
// "::" gives an empty first qualifier ("::a::f" gives f, "", a). A blank
// anywhere, a ':' not part of "::", an empty component (other than the
// leading one) or more than 255 characters give NULL.
#define KRV_QNAME_MAX 255
krvNameList_t *krvParseQName(const char *szText);
