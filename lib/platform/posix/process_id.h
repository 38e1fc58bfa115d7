// The runtime library's process identifier, under its Windows name.
#pragma once

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the Windows name
int _getpid();
