#include "GLTerrainProgram.h"

#include <vector>

namespace {

const char* const kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;
layout(location = 3) in vec2 aTexCoord;
uniform mat4 uClip;
out vec3 vNormal;
out vec4 vColor;
out vec2 vTexCoord;
out float vHeight;
void main()
{
    gl_Position = uClip * vec4(aPosition, 1.0);
    vNormal = aNormal;
    vColor = aColor;
    vTexCoord = aTexCoord;
    vHeight = aPosition.z;
}
)";

// The ramp's keys rise in brightness (Rec. 601 luma 0.13, 0.28, 0.52, 0.70,
// 0.97), so does every colour between them: brighter means higher.
const char* const kFragmentShader = R"(#version 330 core
in vec3 vNormal;
in vec4 vColor;
in vec2 vTexCoord;
in float vHeight;
uniform int uShading;          // 0 textured, 1 height ramp
uniform bool uLighting;
uniform vec2 uHeightRange;     // lowest height, 1 / (highest - lowest) or 0
uniform sampler2D uBase;
uniform sampler2D uDetail;
uniform bool uDetailLayer;
uniform bool uBlack;
out vec4 oColor;

const vec3 kSun = vec3(-0.6533, -0.2706, 0.7071);  // unit, 45 degrees up, west-south-west

vec3 Ramp(float t)  // t in [0, 1]
{
    const vec3 aKey[5] = vec3[5](vec3(0.04, 0.16, 0.24), vec3(0.16, 0.36, 0.16), vec3(0.42, 0.62, 0.28),
                                 vec3(0.80, 0.70, 0.46), vec3(0.97, 0.97, 0.97));
    float f = t * 4.0;
    int i = min(int(f), 3);
    return mix(aKey[i], aKey[i + 1], f - float(i));
}

void main()
{
    if (uBlack) {
        oColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    vec3 c;
    if (uShading == 1) {
        // The square root spends more colours on the low ground, where most
        // land lies; it keeps the order.
        c = Ramp(sqrt(clamp((vHeight - uHeightRange.x) * uHeightRange.y, 0.0, 1.0)));
    } else {
        vec4 base = texture(uBase, vTexCoord);
        if (uDetailLayer) {
            vec4 detail = texture(uDetail, vTexCoord);
            base.rgb = mix(base.rgb, detail.rgb, detail.a);
        }
        c = base.rgb * vColor.rgb;
    }
    if (uLighting) {
        // A zero normal (none computed) is lit as if it faced the sun.
        float fLength = length(vNormal);
        float fSun = fLength > 0.0 ? max(dot(vNormal / fLength, kSun), 0.0) : 1.0;
        c *= 0.33 + 0.67 * fSun;
    }
    oColor = vec4(c, 1.0);
}
)";

bool Compile(GLenum eType, const char* szSource, GLuint& nShader, std::string& sError)
{
    nShader = glCreateShader(eType);
    glShaderSource(nShader, 1, &szSource, nullptr);
    glCompileShader(nShader);
    GLint nOk = GL_FALSE, nLength = 0;
    glGetShaderiv(nShader, GL_COMPILE_STATUS, &nOk);
    if (nOk == GL_TRUE)
        return true;
    glGetShaderiv(nShader, GL_INFO_LOG_LENGTH, &nLength);
    std::vector<char> aLog(size_t(std::max(nLength, 1)), '\0');
    glGetShaderInfoLog(nShader, GLsizei(aLog.size()), nullptr, aLog.data());
    sError = std::string(eType == GL_VERTEX_SHADER ? "vertex" : "fragment") + " shader: " + aLog.data();
    return false;
}

}  // namespace

CGLTerrainProgram::~CGLTerrainProgram() { Release(); }

void CGLTerrainProgram::Release()
{
    if (m_nProgram)
        glDeleteProgram(m_nProgram);
    m_nProgram = 0;
}

bool CGLTerrainProgram::Create(std::string& sError)
{
    Release();
    GLuint nVertex = 0, nFragment = 0;
    bool bOk = Compile(GL_VERTEX_SHADER, kVertexShader, nVertex, sError) &&
               Compile(GL_FRAGMENT_SHADER, kFragmentShader, nFragment, sError);
    if (bOk) {
        m_nProgram = glCreateProgram();
        glAttachShader(m_nProgram, nVertex);
        glAttachShader(m_nProgram, nFragment);
        glLinkProgram(m_nProgram);
        GLint nLinked = GL_FALSE;
        glGetProgramiv(m_nProgram, GL_LINK_STATUS, &nLinked);
        if (nLinked != GL_TRUE) {
            char szLog[1024] = {};
            glGetProgramInfoLog(m_nProgram, sizeof szLog, nullptr, szLog);
            sError = std::string("linking the terrain shaders: ") + szLog;
            Release();
            bOk = false;
        }
    }
    // The program keeps what it needs; the shader objects go.
    glDeleteShader(nVertex);
    glDeleteShader(nFragment);
    if (!bOk)
        return false;

    m_nClip = glGetUniformLocation(m_nProgram, "uClip");
    m_nShading = glGetUniformLocation(m_nProgram, "uShading");
    m_nLighting = glGetUniformLocation(m_nProgram, "uLighting");
    m_nHeightRange = glGetUniformLocation(m_nProgram, "uHeightRange");
    m_nDetail = glGetUniformLocation(m_nProgram, "uDetailLayer");
    m_nBlack = glGetUniformLocation(m_nProgram, "uBlack");
    glUseProgram(m_nProgram);
    glUniform1i(glGetUniformLocation(m_nProgram, "uBase"), kBaseUnit);
    glUniform1i(glGetUniformLocation(m_nProgram, "uDetail"), kDetailUnit);
    return true;
}

void CGLTerrainProgram::SetFrame(const float aClip[16], STerrainCamera::eShading eShading, bool bLighting,
                                 float fMinZ, float fMaxZ)
{
    glUseProgram(m_nProgram);
    glUniformMatrix4fv(m_nClip, 1, GL_FALSE, aClip);
    glUniform1i(m_nShading, eShading == STerrainCamera::Shading_Height ? 1 : 0);
    glUniform1i(m_nLighting, bLighting ? 1 : 0);
    glUniform2f(m_nHeightRange, fMinZ, fMaxZ > fMinZ ? 1.0f / (fMaxZ - fMinZ) : 0.0f);
}

void CGLTerrainProgram::SetLayers(bool bDetail, bool bBlack)
{
    glUniform1i(m_nDetail, bDetail ? 1 : 0);
    glUniform1i(m_nBlack, bBlack ? 1 : 0);
}
