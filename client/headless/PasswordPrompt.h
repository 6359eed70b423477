#pragma once

#include <QString>

#include <optional>

// The password for a sign-in: the first line of standard input when that is
// not a terminal (a script pipes it in), otherwise asked for on the terminal
// with echo off. Nothing when standard input ends before a line, or when
// the terminal cannot be kept from echoing it.
std::optional<QString> readPassword(const QString &prompt);
