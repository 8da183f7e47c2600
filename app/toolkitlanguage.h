#pragma once

#include <QLocale>

// Loads Qt's own Turkish texts (button and context menu names) when `locale` is Turkish, so
// that the toolkit speaks the windows' language; other languages keep Qt's English. Returns
// whether they were loaded.
bool installToolkitLanguage(const QLocale &locale);
