#include "GLTerrainVisual.h"

#include "HeadlessGLContext.h"
#include "PngImage.h"

#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"
#include "MathLib/VQMatrix44.h"

#include <algorithm>
#include <cstddef>

namespace {

// The grey checkerboard of a missing texture: 8 x 8 squares of 8 pixels,
// light and mid grey, so that it shows as a placeholder under any vertex
// colour and stays clear of a test's magenta background.
constexpr int kCheckerSide = 64, kCheckerSquare = 8;
constexpr uint8_t kCheckerLight = 200, kCheckerDark = 120;

// A repeating, mipmapped RGBA8 texture from rows of pixels, row 0 first.
GLuint MakeTexture(int nWidth, int nHeight, const uint8_t* pRgba)
{
    GLuint nTexture = 0;
    glGenTextures(1, &nTexture);
    glBindTexture(GL_TEXTURE_2D, nTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, nWidth, nHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, pRgba);
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return nTexture;
}

}  // namespace

CGLTerrainVisual::CGLTerrainVisual(CHeadlessGLContext& context)
    : m_rContext(context),
      m_lViewportId(VQGetObjectDatabase()->RegisterObject(&m_oViewport)),
      m_bInPicture(false),
      m_nCheckerTexture(0),
      m_nWhiteTexture(0)
{
}

CGLTerrainVisual::~CGLTerrainVisual()
{
    // Objects of a context that is gone went with it.
    if (m_rContext.IsCreated() && m_rContext.MakeCurrent())
        ReleaseGL();
}

void CGLTerrainVisual::ReleaseGL()
{
    for (auto& entry : m_oMeshBuffers) {
        SMeshBuffers& b = entry.second;
        glDeleteVertexArrays(1, &b.nVertexArray);
        glDeleteBuffers(1, &b.nVertices);
        glDeleteBuffers(GLsizei(b.aIndexBuffers.size()), b.aIndexBuffers.data());
    }
    m_oMeshBuffers.clear();
    for (auto& entry : m_oTextures)
        if (entry.second != m_nCheckerTexture)
            glDeleteTextures(1, &entry.second);
    m_oTextures.clear();
    glDeleteTextures(1, &m_nCheckerTexture);
    glDeleteTextures(1, &m_nWhiteTexture);
    m_nCheckerTexture = m_nWhiteTexture = 0;
    m_oProgram.Release();
    m_oFramebuffer.Release();
}

bool CGLTerrainVisual::Fail(const std::string& sError)
{
    m_sRenderError = sError;
    return false;
}

bool CGLTerrainVisual::RenderPicture(const STerrainCamera& camera, CPngImage& picture)
{
    m_sRenderError.clear();
    std::string sError;
    if (!m_rContext.MakeCurrent())
        return Fail(m_rContext.GetError());
    if (!camera.ApplyTo(m_oViewport, sError))
        return Fail(sError);
    if (!m_oProgram.IsCreated() && !m_oProgram.Create(sError))
        return Fail(sError);
    if (!m_nWhiteTexture) {
        const uint8_t aWhite[4] = {255, 255, 255, 255};
        m_nWhiteTexture = MakeTexture(1, 1, aWhite);
        std::vector<uint8_t> aChecker(size_t(kCheckerSide) * kCheckerSide * 4, 255);
        for (int i = 0; i < kCheckerSide * kCheckerSide; ++i) {
            const bool bLight = ((i % kCheckerSide) / kCheckerSquare + (i / kCheckerSide) / kCheckerSquare) % 2 == 0;
            std::fill_n(aChecker.begin() + 4 * i, 3, bLight ? kCheckerLight : kCheckerDark);
        }
        m_nCheckerTexture = MakeTexture(kCheckerSide, kCheckerSide, aChecker.data());
    }
    if (!m_oFramebuffer.Bind(camera.nWidth, camera.nHeight, camera.nSamples, sError))
        return Fail(sError);

    Update();
    const uint32_t c = camera.nBackground;  // 0xAABBGGRR
    glClearColor(float(c & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float((c >> 16) & 0xFF) / 255.0f,
                 float(c >> 24) / 255.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    // Seen from below, a terrain is still drawn: nothing is culled by winding.
    glDisable(GL_CULL_FACE);

    const CVQMatrix44 mClip = STerrainCamera::GetClipMatrix(m_oViewport);
    float aClip[16];
    for (int i = 0; i < 16; ++i)
        aClip[i] = mClip.Get(i % 4, i / 4);  // column-major
    CVQVector3 vMin, vMax;
    GetLandscapeBounds(vMin, vMax);
    m_oProgram.SetFrame(aClip, camera.eShadingMode, camera.bLighting, vMin.GetZ(), vMax.GetZ());
    SetWireframeMode(camera.bWireframe);

    m_bInPicture = true;
    Display(m_lViewportId);
    m_bInPicture = false;
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindVertexArray(0);
    return m_oFramebuffer.Read(picture, sError) || Fail(sError);
}

// ---------------------------------------------------------------------------
// Hooks

void CGLTerrainVisual::FlushRenderList() { m_aRenderList.clear(); }

void CGLTerrainVisual::AddPatchToRenderList(int nPatchIndex) { m_aRenderList.push_back(nPatchIndex); }

void CGLTerrainVisual::RenderTerrainMesh(CVQTerrainMesh& mesh)
{
    if (!m_bInPicture)
        return;
    const bool bNew = m_oMeshBuffers.find(&mesh) == m_oMeshBuffers.end();
    SMeshBuffers& b = m_oMeshBuffers[&mesh];
    if (bNew) {
        glGenVertexArrays(1, &b.nVertexArray);
        glGenBuffers(1, &b.nVertices);
        glBindVertexArray(b.nVertexArray);
        glBindBuffer(GL_ARRAY_BUFFER, b.nVertices);
        const GLsizei nStride = sizeof(_sVQTerrainRawVertex);
        auto attribute = [nStride](GLuint nLocation, GLint nSize, GLenum eType, GLboolean bNormalised, size_t nOffset) {
            glEnableVertexAttribArray(nLocation);
            glVertexAttribPointer(nLocation, nSize, eType, bNormalised, nStride, reinterpret_cast<const void*>(nOffset));
        };
        attribute(CGLTerrainProgram::kPosition, 3, GL_FLOAT, GL_FALSE, offsetof(_sVQTerrainRawVertex, fX));
        attribute(CGLTerrainProgram::kNormal, 3, GL_FLOAT, GL_FALSE, offsetof(_sVQTerrainRawVertex, fNormalX));
        attribute(CGLTerrainProgram::kColor, 4, GL_UNSIGNED_BYTE, GL_TRUE, offsetof(_sVQTerrainRawVertex, nColor));
        attribute(CGLTerrainProgram::kTexCoord, 2, GL_FLOAT, GL_FALSE, offsetof(_sVQTerrainRawVertex, fU));
    }
    glBindVertexArray(b.nVertexArray);
    if (bNew || mesh.GetVerticesChanged())
        UploadVertices(mesh, b);
    if (bNew || mesh.GetIndicesChanged())
        UploadIndices(mesh, b);
    glPolygonMode(GL_FRONT_AND_BACK, m_bWireframeMode ? GL_LINE : GL_FILL);

    for (int nPatch : m_aRenderList) {
        int nBuffer = -1, nFirst = 0, nLast = -1, nTex0 = -1, nTex1 = -1, nMinVertex = 0, nMaxVertex = -1, nTexture;
        if (!mesh.GetRenderListEntry(nPatch, nBuffer, nFirst, nLast, nTex0, nTex1, nMinVertex, nMaxVertex, nTexture))
            continue;
        const bool bFits = nBuffer >= 0 && nBuffer < int(b.aIndexBuffers.size()) && nFirst >= 0 &&
                           nFirst <= nLast && nLast < b.aIndexCounts[size_t(nBuffer)] && nMinVertex >= 0 &&
                           nMinVertex <= nMaxVertex && nMaxVertex < b.nVertexCount;
        if (!bFits)
            continue;
        BindLayers(nTex0, nTex1);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.aIndexBuffers[size_t(nBuffer)]);
        glDrawRangeElements(GL_TRIANGLES, GLuint(nMinVertex), GLuint(nMaxVertex), nLast - nFirst + 1,
                            GL_UNSIGNED_SHORT, reinterpret_cast<const void*>(size_t(nFirst) * sizeof(unsigned short)));
    }
}

void CGLTerrainVisual::UploadVertices(CVQTerrainMesh& mesh, SMeshBuffers& b)
{
    _sVQTerrainRawVertex* pVertices = nullptr;
    int nCount = 0, nSize = 0, nId = 0;
    mesh.GetVertexBuffer(pVertices, nCount, nSize, nId);
    b.nVertexCount = pVertices && nSize == int(sizeof(_sVQTerrainRawVertex)) ? std::max(nCount, 0) : 0;
    glBindBuffer(GL_ARRAY_BUFFER, b.nVertices);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(b.nVertexCount) * GLsizeiptr(sizeof(_sVQTerrainRawVertex)),
                 b.nVertexCount ? pVertices : nullptr, GL_DYNAMIC_DRAW);
}

void CGLTerrainVisual::UploadIndices(CVQTerrainMesh& mesh, SMeshBuffers& b)
{
    unsigned short* pIndices = nullptr;
    int nCount = 0, nLocalId = 0, nTexture = 0;
    std::fill(b.aIndexCounts.begin(), b.aIndexCounts.end(), 0);
    mesh.BeginGetIndexBuffers();
    while (mesh.GetNextIndexBuffer(pIndices, nCount, nLocalId, nTexture)) {
        if (nLocalId < 0)
            continue;
        while (int(b.aIndexBuffers.size()) <= nLocalId) {
            GLuint nBuffer = 0;
            glGenBuffers(1, &nBuffer);
            b.aIndexBuffers.push_back(nBuffer);
            b.aIndexCounts.push_back(0);
        }
        const int nUsed = pIndices ? std::max(nCount, 0) : 0;
        b.aIndexCounts[size_t(nLocalId)] = nUsed;
        // The vertex array is bound: this binding becomes its index buffer
        // until a patch binds its own.
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.aIndexBuffers[size_t(nLocalId)]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(nUsed) * GLsizeiptr(sizeof(unsigned short)),
                     nUsed ? pIndices : nullptr, GL_DYNAMIC_DRAW);
    }
    mesh.EndGetIndexBuffers();
}

// ---------------------------------------------------------------------------
// Textures

void CGLTerrainVisual::BindLayers(int nTex0, int nTex1)
{
    const bool bBlack = nTex0 == VQ_TERRAIN_TEXTURE_BLACK;
    const GLuint nBase = bBlack ? 0 : GetTextureFor(nTex0);
    const GLuint nDetail = bBlack ? 0 : GetTextureFor(nTex1);
    glActiveTexture(GL_TEXTURE0 + CGLTerrainProgram::kBaseUnit);
    glBindTexture(GL_TEXTURE_2D, nBase ? nBase : m_nWhiteTexture);
    glActiveTexture(GL_TEXTURE0 + CGLTerrainProgram::kDetailUnit);
    glBindTexture(GL_TEXTURE_2D, nDetail ? nDetail : m_nWhiteTexture);
    m_oProgram.SetLayers(nDetail != 0, bBlack);
}

GLuint CGLTerrainVisual::GetTextureFor(int nId)
{
    if (nId == VQ_TERRAIN_TEXTURE_NONE)
        return 0;
    return GetTextureNamed(GetTexture(nId));
}

bool CGLTerrainVisual::LoadTexture(int, const CVQString& oName)
{
    // Outside a picture no context may be current: the file is read when a
    // patch first draws with it.
    if (m_bInPicture)
        GetTextureNamed(oName);
    return true;
}

std::vector<std::string> CGLTerrainVisual::GetMissingTextures() const
{
    std::vector<std::string> aMissing;
    for (const auto& entry : m_oTextures)  // ordered by name
        if (entry.second == m_nCheckerTexture)
            aMissing.push_back(entry.first.GetString());
    return aMissing;
}

GLuint CGLTerrainVisual::GetTextureNamed(const CVQString& oName)
{
    const auto found = m_oTextures.find(oName);
    if (found != m_oTextures.end())
        return found->second;
    const std::string sFolder = sm_oTextureFilePath.GetString();
    const std::string sPath = sFolder.empty() ? oName.GetString() : sFolder + "/" + oName.GetString();
    CPngImage image;
    GLint nMaxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &nMaxSide);
    GLuint nTexture = m_nCheckerTexture;
    if (!oName.IsEmpty() && image.Read(sPath, CPngImage::Format_Rgba8) && image.GetWidth() <= nMaxSide &&
        image.GetHeight() <= nMaxSide)
        nTexture = MakeTexture(image.GetWidth(), image.GetHeight(), image.Rgba().data());
    m_oTextures[oName] = nTexture;
    return nTexture;
}
