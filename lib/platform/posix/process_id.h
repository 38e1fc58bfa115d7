// The runtime library's process identifier, under its Windows name.
#pragma once

// NOLINTNEXTLINE(bugprone-reserved-identifier): the Windows runtime's name
int _getpid();
