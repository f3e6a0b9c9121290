// CCmdTarget and the message-map tables that route window messages and commands to handlers.
#pragma once

#include <windows.h>

#define afx_msg

class CCmdTarget;
class CPoint;
class CWnd;
typedef void (CCmdTarget::*AFX_PMSG)();

// How a message-map entry's handler is called.
enum AfxSig : UINT {
	AfxSig_end = 0,
	AfxSig_vv,   // void (): WM_PAINT
	AfxSig_vwl,  // void (UINT, LPARAM): WM_SYSCOMMAND
	AfxSig_hv,   // HCURSOR (): WM_QUERYDRAGICON
	AfxSig_vwp,  // void (UINT, CPoint): mouse buttons
	AfxSig_vwww, // void (UINT, UINT, UINT): keys
	AfxSig_vw,   // void (UINT_PTR): WM_TIMER
	AfxSigCmd_v, // void (): WM_COMMAND
};

// An entry's handler, held as the type it was declared with: calling a member function through another
// pointer type is undefined. The entry's nSig names the member in use.
union MessageMapFunctions {
	constexpr MessageMapFunctions(AFX_PMSG p) : pfn(p) {}
	constexpr MessageMapFunctions(void (CWnd::*p)()) : pfn_vv(p) {}
	constexpr MessageMapFunctions(void (CWnd::*p)(UINT, LPARAM)) : pfn_vwl(p) {}
	constexpr MessageMapFunctions(HCURSOR (CWnd::*p)()) : pfn_hv(p) {}
	constexpr MessageMapFunctions(void (CWnd::*p)(UINT, CPoint)) : pfn_vwp(p) {}
	constexpr MessageMapFunctions(void (CWnd::*p)(UINT, UINT, UINT)) : pfn_vwww(p) {}
	constexpr MessageMapFunctions(void (CWnd::*p)(UINT_PTR)) : pfn_vw(p) {}

	AFX_PMSG pfn;
	void (CWnd::*pfn_vv)();
	void (CWnd::*pfn_vwl)(UINT, LPARAM);
	HCURSOR (CWnd::*pfn_hv)();
	void (CWnd::*pfn_vwp)(UINT, CPoint);
	void (CWnd::*pfn_vwww)(UINT, UINT, UINT);
	void (CWnd::*pfn_vw)(UINT_PTR);
};

struct AFX_MSGMAP_ENTRY {
	UINT nMessage;
	UINT nCode;
	UINT nID;
	UINT nLastID;
	UINT nSig;
	MessageMapFunctions pfn;
};

struct AFX_MSGMAP {
	const AFX_MSGMAP* (*pfnGetBaseMap)();
	const AFX_MSGMAP_ENTRY* lpEntries;
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                            \
protected:                                                                                               \
	static const AFX_MSGMAP* GetThisMessageMap();                                                        \
	const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                           \
	const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }                    \
	const AFX_MSGMAP* theClass::GetThisMessageMap()                                                      \
	{                                                                                                    \
		using ThisClass [[maybe_unused]] = theClass;                                                     \
		typedef baseClass TheBaseClass;                                                                  \
		static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                \
	{0, 0, 0, 0, AfxSig_end, AFX_PMSG(nullptr)}                                                          \
	}                                                                                                    \
	;                                                                                                    \
	static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};        \
	return &messageMap;                                                                                  \
	}

#define ON_COMMAND(id, memberFxn)                                                                        \
	{WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), AfxSigCmd_v,                           \
	 static_cast<AFX_PMSG>(memberFxn)},

// clang-format on

class CCmdTarget
{
public:
	CCmdTarget() = default;
	virtual ~CCmdTarget() = default;
	CCmdTarget(const CCmdTarget&) = delete;
	CCmdTarget& operator=(const CCmdTarget&) = delete;

	// Runs the handler of command nID from this object's map chain; FALSE when none handles it.
	virtual BOOL OnCmdMsg(UINT nID, int nCode);

protected:
	static const AFX_MSGMAP* GetThisMessageMap();
	virtual const AFX_MSGMAP* GetMessageMap() const;

	// The first entry for message nMessage (and, for commands, nCode and nID) in the map chain.
	const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const;
};
