// CCmdTarget: the root of every message map and the command lookup.
#include "CmdTarget.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
	static const AFX_MSGMAP_ENTRY _messageEntries[] = {{0, 0, 0, 0, AfxSig_end, AFX_PMSG(nullptr)}};
	static const AFX_MSGMAP messageMap = {nullptr, &_messageEntries[0]};
	return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const
{
	for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap;
		 pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
		for (const AFX_MSGMAP_ENTRY* pEntry = pMap->lpEntries; pEntry->nSig != AfxSig_end; ++pEntry) {
			if (pEntry->nMessage == nMessage && pEntry->nCode == nCode && nID >= pEntry->nID &&
				nID <= pEntry->nLastID)
				return pEntry;
		}
	}
	return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode)
{
	const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
	if (!pEntry)
		return FALSE;
	(this->*pEntry->pfn.pfn)();
	return TRUE;
}
