// Blob and stream objects: a blob stored and read back through streams and
// raw handles, the stream object's states, and blob objects that the
// loader and saver refuse.
#include <cstdint>
#include <numeric>

#include "ComFixture.h"
#include "Platform/Win32.h"

namespace comtest {
namespace {

// A client's own blob object: the server must not take it for one of its own.
class ForeignBlob : public IComBlobStrategy {
 public:
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 1; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(Clone)(IComBlobStrategy**) override { return E_NOTIMPL; }
  STDMETHOD(IsPresent)(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHOD(GetLength)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(OpenReadHandle)(ULONG*, ULONG*) override { return E_NOTIMPL; }
  STDMETHOD(CloseReadHandle)() override { return E_NOTIMPL; }
  STDMETHOD(OpenWriteHandle)(ULONG*) override { return E_NOTIMPL; }
  STDMETHOD(CloseWriteHandle)() override { return E_NOTIMPL; }
  STDMETHOD(OpenRead)(IkivIStream**) override { return E_NOTIMPL; }
  STDMETHOD(CloseRead)() override { return E_NOTIMPL; }
  STDMETHOD(OpenWrite)(IkivOStream**) override { return E_NOTIMPL; }
  STDMETHOD(CloseWrite)() override { return E_NOTIMPL; }
  STDMETHOD(Erase)() override { return E_NOTIMPL; }
  STDMETHOD(new_)() override { return E_NOTIMPL; }
  STDMETHOD(delete_)() override { return E_NOTIMPL; }
};

HANDLE HandleOf(ULONG ul) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(ul));
}

class ComBlobTest : public ComTest {
 protected:
  ComBlobTest() : m_pModel(OpenModel()) {
    m_bytes.resize(3000);
    std::iota(m_bytes.begin(), m_bytes.end(), static_cast<unsigned char>(7));
  }

  Ptr<IComBlobStrategy> NewBlob() {
    Ptr<IComBlobStrategy> pBlob;
    EXPECT_EQ(m_pModel->CreateComBlobStrategy(kDocument, &pBlob), S_OK);
    return pBlob;
  }
  // Stores pBlob's pending value into the blob field of a new document.
  ClientRecord Store(IComBlobStrategy* pBlob) {
    ClientRecord doc(kDocument);
    doc.Long(kDocId, AppendDocument(m_pModel.get(), u"with blob"));
    Ptr<IComSaver> pSaver;
    EXPECT_EQ(m_pModel->CreateComSaver(kDocument, &pSaver), S_OK);
    EXPECT_EQ(pSaver->Open(&doc), S_OK);
    EXPECT_EQ(pSaver->SetValueBlob(kDocData, pBlob), S_OK);
    EXPECT_EQ(pSaver->Close(), S_OK);
    return doc;
  }
  // A new blob object bound to the blob of doc's blob field.
  Ptr<IComBlobStrategy> Load(ClientRecord& doc) {
    Ptr<IComLoader> pLoader;
    EXPECT_EQ(m_pModel->CreateComLoader(kDocument, &pLoader), S_OK);
    EXPECT_EQ(pLoader->Open(&doc), S_OK);
    Ptr<IComBlobStrategy> pBlob = NewBlob();
    EXPECT_EQ(pLoader->GetValueBlob(kDocData, pBlob.get()), S_OK);
    return pBlob;
  }
  // The bytes of pBlob read through its stream, in pieces of 1000.
  std::vector<unsigned char> ReadAll(IComBlobStrategy* pBlob) {
    Ptr<IkivIStream> pIn;
    EXPECT_EQ(pBlob->OpenRead(&pIn), S_OK);
    std::vector<unsigned char> out;
    unsigned char buffer[1000];
    LONG lRead = 0;
    while (pIn && pIn->read(sizeof buffer, buffer, &lRead) == S_OK && lRead > 0)
      out.insert(out.end(), buffer, buffer + lRead);
    EXPECT_EQ(pIn->read(sizeof buffer, buffer, &lRead), S_OK);  // at the end: 0 bytes
    EXPECT_EQ(lRead, 0);
    EXPECT_EQ(pBlob->CloseRead(), S_OK);
    EXPECT_EQ(pIn->read(sizeof buffer, buffer, &lRead), E_FAIL);  // closed
    return out;
  }

  Ptr<IComDataModel> m_pModel;
  std::vector<unsigned char> m_bytes;
};

TEST_F(ComBlobTest, BlobStoredAndReadBackThroughStreamsAndHandles) {
  // Written through the stream.
  Ptr<IComBlobStrategy> pBlob = NewBlob();
  Ptr<IkivOStream> pOut;
  ASSERT_EQ(pBlob->OpenWrite(&pOut), S_OK);
  EXPECT_EQ(pOut->write(static_cast<LONG>(m_bytes.size()), m_bytes.data()), S_OK);
  EXPECT_EQ(pOut->write(1, nullptr), E_INVALIDARG);
  ASSERT_EQ(pBlob->CloseWrite(), S_OK);
  EXPECT_EQ(pOut->write(1, m_bytes.data()), E_FAIL);
  ClientRecord streamed = Store(pBlob.get());

  // Written through a handle.
  Ptr<IComBlobStrategy> pHandleBlob = NewBlob();
  ULONG ulHandle = 0;
  ASSERT_EQ(pHandleBlob->OpenWriteHandle(&ulHandle), S_OK);
  DWORD dwDone = 0;
  ASSERT_TRUE(WriteFile(HandleOf(ulHandle), m_bytes.data(), 1000, &dwDone, nullptr));
  ASSERT_EQ(pHandleBlob->CloseWriteHandle(), S_OK);
  ClientRecord handled = Store(pHandleBlob.get());

  const struct {
    ClientRecord* pDoc;
    std::size_t size;
  } cases[] = {{&streamed, m_bytes.size()}, {&handled, 1000}};
  for (const auto& c : cases) {
    const std::vector<unsigned char> expected(m_bytes.begin(), m_bytes.begin() + c.size);
    Ptr<IComBlobStrategy> pRead = Load(*c.pDoc);
    VARIANT_BOOL bPresent = 0;
    LONG lLength = 0;
    EXPECT_EQ(pRead->IsPresent(&bPresent), S_OK);
    EXPECT_EQ(bPresent, VARIANT_TRUE);
    EXPECT_EQ(pRead->GetLength(&lLength), S_OK);
    EXPECT_EQ(lLength, static_cast<LONG>(c.size));
    EXPECT_EQ(ReadAll(pRead.get()), expected);
    Ptr<IComBlobStrategy> pClone;
    ASSERT_EQ(pRead->Clone(&pClone), S_OK);
    EXPECT_EQ(ReadAll(pClone.get()), expected);

    ULONG ulLength = 0;
    ASSERT_EQ(pRead->OpenReadHandle(&ulLength, &ulHandle), S_OK);
    EXPECT_EQ(ulLength, c.size);
    std::vector<unsigned char> viaHandle(ulLength);
    ASSERT_TRUE(ReadFile(HandleOf(ulHandle), viaHandle.data(), ulLength, &dwDone, nullptr));
    EXPECT_EQ(viaHandle, expected);
    EXPECT_EQ(pRead->CloseReadHandle(), S_OK);
  }
}

TEST_F(ComBlobTest, StreamObjectStates) {
  Ptr<IComBlobStrategy> pBlob = NewBlob();
  Ptr<IkivIStream> pIn;
  EXPECT_EQ(pBlob->OpenRead(&pIn), S_FALSE);  // stands on no blob
  EXPECT_FALSE(pIn);
  Ptr<IkivOStream> pOut;
  ASSERT_EQ(pBlob->OpenWrite(&pOut), S_OK);
  pIn = pOut.As<IkivIStream>(IID_IkivIStream);
  ASSERT_TRUE(pIn);
  unsigned char buffer[8];
  LONG lRead = 5;
  EXPECT_EQ(pIn->read(8, buffer, &lRead), E_FAIL);  // no read open
  EXPECT_EQ(lRead, 5);
  EXPECT_EQ(pIn->unconsumed(42), S_OK);
  ASSERT_EQ(pOut->write(4, m_bytes.data()), S_OK);
  ASSERT_EQ(pBlob->CloseWrite(), S_OK);
  ClientRecord doc = Store(pBlob.get());

  Ptr<IComBlobStrategy> pRead = Load(doc);
  Ptr<IkivIStream> pFirst, pSecond;
  ASSERT_EQ(pRead->OpenRead(&pFirst), S_OK);
  ASSERT_EQ(pRead->OpenRead(&pSecond), S_OK);
  EXPECT_EQ(pFirst.get(), pSecond.get());
  EXPECT_EQ(pFirst->read(8, nullptr, &lRead), E_POINTER);
  EXPECT_EQ(pFirst->read(8, buffer, nullptr), E_POINTER);
  pRead = nullptr;  // the stream keeps its blob object alive
  EXPECT_EQ(pFirst->read(8, buffer, &lRead), S_OK);
  EXPECT_EQ(lRead, 4);
}

TEST_F(ComBlobTest, LoadersAndSaversTakeOnlyBlobObjectsOfTheirDataModel) {
  ForeignBlob foreign;
  Ptr<IComDataModel> pOtherModel = OpenModel();
  Ptr<IComBlobStrategy> pOtherBlob;
  ASSERT_EQ(pOtherModel->CreateComBlobStrategy(kDocument, &pOtherBlob), S_OK);
  Ptr<IComLoader> pLoader;
  Ptr<IComSaver> pSaver;
  ASSERT_EQ(m_pModel->CreateComLoader(kDocument, &pLoader), S_OK);
  ASSERT_EQ(m_pModel->CreateComSaver(kDocument, &pSaver), S_OK);
  for (IComBlobStrategy* pBlob : {static_cast<IComBlobStrategy*>(&foreign), pOtherBlob.get()}) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(pLoader->GetValueBlob(kDocData, pBlob), E_INVALIDARG);
    EXPECT_EQ(pSaver->SetValueBlob(kDocData, pBlob), E_INVALIDARG);
    EXPECT_NE(TakeErrorInfo().description.find("blob object"), std::string::npos);
  }
}

}  // namespace
}  // namespace comtest
