#ifndef VQ_TOOLS_GLRENDER_GL_TERRAIN_VISUAL_H
#define VQ_TOOLS_GLRENDER_GL_TERRAIN_VISUAL_H

#include "GLFramebuffer.h"
#include "GLTerrainProgram.h"
#include "TerrainCamera.h"

#include "Common/VQString.h"
#include "GameComponents/Terrain/VQTerrainVisual.h"
#include "GameFramework/VQViewport.h"

#include <epoxy/gl.h>

#include <map>
#include <string>
#include <vector>

class CHeadlessGLContext;
class CPngImage;

// The terrain drawn through OpenGL 3.3 into pictures: the renderer class a
// host derives from the terrain visual, with its drawing hooks.
//
// A picture (RenderPicture) is one frame as a host runs it: Update, then
// Display for a viewport that the camera describes, so the terrain culls
// with the very matrices GL draws with, and the hooks draw each mesh:
//
//   FlushRenderList()          forgets the previous mesh's patch list
//   AddPatchToRenderList(i)    appends patch i (its index in the grid)
//   RenderTerrainMesh(mesh)    brings the mesh's GL buffers up to date and
//                              draws every listed patch, in list order
//
// Buffers. Per mesh one vertex buffer (the mesh's 36-byte raw vertices as
// they are) and one GL index buffer per 16-bit index buffer of the mesh.
// They are uploaded when made and afterwards only when the mesh says its
// vertices or indices changed (reading them clears the mesh's flags: this
// renderer must be the only reader). A patch draws the index range its
// render-list record names, [first, last] of its index buffer, as
// GL_UNSIGNED_SHORT triangles over its vertex range; a record that does not
// fit the uploaded buffers is skipped, never read outside them.
//
// Textures. A record names the patch's two layers (texture ids): layer 0
// is the base, layer 1 the detail laid over it by its alpha (none:
// VQ_TERRAIN_TEXTURE_NONE); a black patch draws black. The file of an id
// is the name GetTexture gives, read as a PNG from sm_oTextureFilePath
// (through LoadTexture the first time a resource id is asked for). A file
// that is missing or no readable PNG draws with a grey checkerboard, and
// LoadTexture still answers true: a missing texture is visible, not fatal.
// A base layer of NONE draws the vertex colours alone.
//
// Shading (the camera's): textured or height-coloured, lit or not, filled
// or wireframe (SetWireframeMode, which RenderPicture sets from the camera).
//
// GL context. Not owned; it must outlive the visual. RenderPicture and the
// destructor make it current on the calling thread; the hooks draw only
// inside RenderPicture (a Display of the host's own does nothing here).
class CGLTerrainVisual : public CVQTerrainVisual {
public:
    explicit CGLTerrainVisual(CHeadlessGLContext& context);
    // Frees the GL objects in the context (when it still exists).
    ~CGLTerrainVisual() override;

    // Draws the terrain as the camera sees it into picture (RGBA8, row 0 at
    // the top, the camera's size). False with GetRenderError() saying why,
    // the picture unspecified: an invalid camera, no current context, GL
    // refusing the size or reporting an error. Without a terrain, or while
    // the visual is not visible, the picture shows the background alone.
    bool RenderPicture(const STerrainCamera& camera, CPngImage& picture);
    const std::string& GetRenderError() const { return m_sRenderError; }
    // The texture file names (as GetTexture gives them) that pictures so far
    // have drawn with the checkerboard because the file was missing or no
    // readable PNG; sorted, none twice.
    std::vector<std::string> GetMissingTextures() const;
    // The viewport RenderPicture draws through, registered in the host's
    // object database while the visual lives; it keeps the last camera.
    long GetViewportId() const { return m_lViewportId; }

protected:
    void FlushRenderList() override;
    void AddPatchToRenderList(int nPatchIndex) override;
    void RenderTerrainMesh(CVQTerrainMesh& mesh) override;
    bool LoadTexture(int nId, const CVQString& oName) override;

private:
    struct SMeshBuffers {
        GLuint nVertexArray = 0;
        GLuint nVertices = 0;
        int nVertexCount = 0;
        std::vector<GLuint> aIndexBuffers;  // by the mesh's local id
        std::vector<int> aIndexCounts;
    };

    bool Fail(const std::string& sError);
    void UploadVertices(CVQTerrainMesh& mesh, SMeshBuffers& buffers);
    void UploadIndices(CVQTerrainMesh& mesh, SMeshBuffers& buffers);
    // Binds the layers of a patch (texture ids) for the program.
    void BindLayers(int nTex0, int nTex1);
    // The GL texture of an id (through GetTexture); 0 for NONE.
    GLuint GetTextureFor(int nId);
    // The GL texture of a file name, read once; the checkerboard when the
    // file cannot be read.
    GLuint GetTextureNamed(const CVQString& oName);
    void ReleaseGL();

    CHeadlessGLContext& m_rContext;
    CGLTerrainProgram m_oProgram;
    CGLFramebuffer m_oFramebuffer;
    CVQViewport m_oViewport;
    long m_lViewportId;
    bool m_bInPicture;
    std::vector<int> m_aRenderList;  // patch indices of the present mesh
    std::map<const CVQTerrainMesh*, SMeshBuffers> m_oMeshBuffers;
    std::map<CVQString, GLuint> m_oTextures;  // by file name
    GLuint m_nCheckerTexture;                 // missing files
    GLuint m_nWhiteTexture;                   // no base layer
    std::string m_sRenderError;
};

#endif
