// CHandleOwner, the one way the layer's wrappers own a handle (CDC, CGdiObject, CMenu), and CTempHandleMap,
// the wrappers handed out for handles the program does not own.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

// One handle, never null when attached, released by pfnRelease when the owner ends. Copies are deleted.
template <class THandle, BOOL(WINAPI* pfnRelease)(THandle)> class CHandleOwner
{
public:
	CHandleOwner() = default;
	virtual ~CHandleOwner() { Release(); }
	CHandleOwner(const CHandleOwner&) = delete;
	CHandleOwner& operator=(const CHandleOwner&) = delete;

	operator THandle() const { return m_hHandle; }

	// Takes ownership of hHandle; FALSE, and nothing attached, when it is null.
	BOOL Attach(THandle hHandle)
	{
		if (!hHandle)
			return FALSE;
		m_hHandle = hHandle;
		return TRUE;
	}
	THandle Detach()
	{
		THandle hHandle = m_hHandle;
		m_hHandle = nullptr;
		return hHandle;
	}

protected:
	// FALSE when there is no handle or the platform refuses to release it.
	BOOL Release() { return m_hHandle ? pfnRelease(Detach()) : FALSE; }

	THandle m_hHandle = nullptr;
};

// Wrappers for handles the program does not own (a system menu, the bitmap a selection displaced). They live
// for the rest of the run and are detached, never released, when the map goes at exit.
template <class TOwner, class TWrapper = TOwner> class CTempHandleMap
{
public:
	~CTempHandleMap()
	{
		for (auto& pOwner : m_owners)
			pOwner->Detach();
	}

	template <class THandle> TOwner* FromHandle(THandle hHandle)
	{
		if (!hHandle)
			return nullptr;
		for (auto& pOwner : m_owners) {
			if (static_cast<THandle>(*pOwner) == hHandle)
				return pOwner.get();
		}
		m_owners.push_back(std::make_unique<TWrapper>());
		m_owners.back()->Attach(hHandle);
		return m_owners.back().get();
	}

private:
	std::vector<std::unique_ptr<TOwner>> m_owners;
};
