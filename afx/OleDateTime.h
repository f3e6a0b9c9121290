// COleDateTime: a local date and time held as an OLE date, formatted by the platform for a locale.
#pragma once

#include <windows.h>

#include "String.h"

#ifdef GetCurrentTime
#undef GetCurrentTime
#endif

class COleDateTime
{
public:
	COleDateTime() = default;
	explicit COleDateTime(const SYSTEMTIME& systimeSrc);

	// The current local time, in whole seconds.
	static COleDateTime GetCurrentTime();

	// The platform's text for the date and time in locale lcid; with no flags, its default text,
	// which leaves out a zero time or a null date.
	CString Format(DWORD dwFlags = 0, LCID lcid = LANG_USER_DEFAULT) const;

	DATE m_dt = 0;
	bool m_bValid = false;
};
