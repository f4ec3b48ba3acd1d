/*
 * Stands in for the header of GNU libiconv, which a Windows build links
 * (vcpkg's libiconv; Windows has no iconv of its own), for the Windows check
 * only: these are the declarations the program uses, as libiconv declares
 * them. On Linux the C library's <iconv.h> is used instead.
 */
#ifndef QM_WINDOWS_ICONV_H
#define QM_WINDOWS_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* iconv_t;

iconv_t iconv_open(const char* tocode, const char* fromcode);
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
