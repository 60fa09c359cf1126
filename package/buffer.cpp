// The plain memory buffer.
#include "package/buffer.h"

#include "package/log_stream.h"

#include <atomic>
#include <new>

namespace {

class Rv_Buffer : public IRv_Buffer {
public:
    HRESULT QueryInterface(const Rv_GUID&, void**) override { return E_FAIL; }
    uint32_t AddRef() override { return ++m_uRefCount; }
    uint32_t Release() override
    {
        uint32_t uCount = --m_uRefCount;
        if (uCount == 0) {
            m_uSize = 0;
            delete[] m_pvBuffer;
            m_pvBuffer = nullptr;
            delete this;
        }
        return uCount;
    }
    uint32_t GetSize() override { return m_uSize; }
    void* GetData() override { return m_pvBuffer; }

    int Init(uint32_t uSize)
    {
        int nResult = 0;
        m_pvBuffer = new (std::nothrow) unsigned char[uSize ? uSize : 1];
        RVPK_PROCESS_ERROR(m_pvBuffer);
        m_uSize = uSize;
        nResult = 1;
    Exit0:
        return nResult;
    }

private:
    ~Rv_Buffer() override = default;
    std::atomic<uint32_t> m_uRefCount{1};
    unsigned char* m_pvBuffer = nullptr;
    uint32_t m_uSize = 0;
};

} // namespace

HRESULT Rv_CreateBuffer(uint32_t uSize, IRv_Buffer** ppiRetBuffer)
{
    HRESULT hrResult = E_FAIL;
    int nRetCode = 0;
    Rv_Buffer* pBuffer = nullptr;

    RVPK_ASSERT_EXIT(ppiRetBuffer);
    pBuffer = new (std::nothrow) Rv_Buffer;
    RVPK_PROCESS_ERROR(pBuffer);
    nRetCode = pBuffer->Init(uSize);
    RVPK_PROCESS_ERROR(nRetCode);
    *ppiRetBuffer = pBuffer;
    pBuffer = nullptr;
    hrResult = S_OK;
Exit0:
    if (pBuffer)
        pBuffer->Release();
    return hrResult;
}
