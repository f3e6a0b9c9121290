// CFrostpaneApp: the application object; its InitInstance runs the whole program.
#pragma once

#include "ScreenGrabber.h"
#include "afxwin.h"

class CFrostpaneApp : public CWinApp
{
public:
	CFrostpaneApp() = default;

	// Notice on the first run, capture, record the capture's path, then the cover window.
	// Always FALSE: the program ends when the cover window closes.
	BOOL InitInstance() override;

	CScreenGrabber m_grabber;
	CString m_strCapturePath;

protected:
	DECLARE_MESSAGE_MAP()
};
