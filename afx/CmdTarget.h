// CCmdTarget and the message-map tables that route window messages and commands to handlers.
#pragma once

#include <windows.h>

#define afx_msg

class CCmdTarget;
typedef void (CCmdTarget::*AFX_PMSG)();

// How a message-map entry's handler is called.
enum AfxSig : UINT {
	AfxSig_end = 0,
	AfxSig_vv,   // void ()
	AfxSig_vwl,  // void (UINT, LPARAM): WM_SYSCOMMAND
	AfxSig_hv,   // HCURSOR (): WM_QUERYDRAGICON
	AfxSig_vwp,  // void (UINT, CPoint): mouse buttons
	AfxSig_vwww, // void (UINT, UINT, UINT): keys
	AfxSig_vw,   // void (UINT_PTR): WM_TIMER
	AfxSigCmd_v, // void (): WM_COMMAND
};

struct AFX_MSGMAP_ENTRY {
	UINT nMessage;
	UINT nCode;
	UINT nID;
	UINT nLastID;
	UINT nSig;
	AFX_PMSG pfn;
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
	{0, 0, 0, 0, AfxSig_end, nullptr}                                                                    \
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
