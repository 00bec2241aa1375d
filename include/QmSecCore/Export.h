// Symbol visibility for the security library. Everything is built with -fvisibility=hidden;
// exported classes and functions carry QMSEC_API.
#pragma once

#define QMSEC_API __attribute__((visibility("default")))
