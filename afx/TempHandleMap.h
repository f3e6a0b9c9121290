// CTempHandleMap: wrappers handed out for handles the program does not own (a system menu, the
// bitmap a selection displaced). They live for the rest of the run and are detached, never
// destroyed, when the map goes at exit.
#pragma once

#include <memory>
#include <vector>

template <class TObject, class TWrapper, class THandle, THandle TObject::*pHandle> class CTempHandleMap
{
public:
	CTempHandleMap() = default;
	CTempHandleMap(const CTempHandleMap&) = delete;
	CTempHandleMap& operator=(const CTempHandleMap&) = delete;
	~CTempHandleMap()
	{
		for (auto& pObject : m_objects)
			pObject->Detach();
	}

	TObject* FromHandle(THandle h)
	{
		if (!h)
			return nullptr;
		for (auto& pObject : m_objects) {
			if ((*pObject).*pHandle == h)
				return pObject.get();
		}
		m_objects.push_back(std::make_unique<TWrapper>());
		(*m_objects.back()).*pHandle = h;
		return m_objects.back().get();
	}

private:
	std::vector<std::unique_ptr<TObject>> m_objects;
};
