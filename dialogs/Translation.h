// SPDX-License-Identifier: MIT
#pragma once

#include "operations/Texts.h"

class QTranslator;

// Makes language the one of every text from now on: the core's table and, for English, the
// forms' translation loaded into translator and installed. Japanese takes translator out again.
// Call before any window or dialog is built: forms take their labels when they are set up.
// False when the English of the forms is missing from the program.
bool applyLanguage(Language language, QTranslator& translator);
