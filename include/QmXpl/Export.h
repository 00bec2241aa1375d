// Symbol visibility for the portability layer. Everything is built with -fvisibility=hidden;
// classes and functions that programs may call carry QMXPL_API.
#pragma once

#define QMXPL_API __attribute__((visibility("default")))
