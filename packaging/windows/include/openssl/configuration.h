/*
 * Stands in for the configuration header of OpenSSL 3 as built for 64-bit
 * Windows (the mingw64 and VC-WIN64A targets), for the Windows check only:
 * Debian ships its own for Linux in a per-architecture directory. The one
 * difference that matters to the headers is the word size: a long is 32 bits
 * on Windows, so big numbers use 64-bit long long words.
 */
#ifndef OPENSSL_CONFIGURATION_H
#define OPENSSL_CONFIGURATION_H
#pragma once

#define OPENSSL_CONFIGURED_API 30000
#ifndef OPENSSL_SYS_WIN64A
#define OPENSSL_SYS_WIN64A 1
#endif
#ifndef OPENSSL_THREADS
#define OPENSSL_THREADS
#endif
#ifndef OPENSSL_NO_ASAN
#define OPENSSL_NO_ASAN
#endif
#ifndef OPENSSL_NO_MSAN
#define OPENSSL_NO_MSAN
#endif
#ifndef OPENSSL_NO_UBSAN
#define OPENSSL_NO_UBSAN
#endif

#undef BN_LLONG
#define SIXTY_FOUR_BIT
#undef SIXTY_FOUR_BIT_LONG
#undef THIRTY_TWO_BIT
#define RC4_INT unsigned int

#endif
