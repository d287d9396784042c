// Fixed-function OpenGL renderer for the UI's draw lists.
#include "OpenGLRenderer.h"

#include <GLFW/glfw3.h>
#include <imgui.h>

#include <string>

#include "Interface/Texture.h"

namespace vesk {

namespace {

void SetupRenderState(const ImDrawData* data, int fbWidth, int fbHeight) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    glEnable(GL_SCISSOR_TEST);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    glViewport(0, 0, fbWidth, fbHeight);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    const float left = data->DisplayPos.x;
    const float top = data->DisplayPos.y;
    glOrtho(left, left + data->DisplaySize.x, top + data->DisplaySize.y, top, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void PopMatrices() {
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

void BindCommandTexture(ImTextureID handle, std::uint32_t fontTexture) {
    if (handle == nullptr) {
        glBindTexture(GL_TEXTURE_2D, fontTexture);
        return;
    }
    const auto* id = static_cast<const std::string*>(handle);
    if (id->empty()) {
        return;
    }
    if (auto texture = GetTexture(*id)) {
        glBindTexture(GL_TEXTURE_2D, texture->GetGLTexture());
    }
}

}  // namespace

void RenderDrawData(const ImDrawData* data, std::uint32_t fontTexture) {
    if (data == nullptr) {
        return;
    }
    const int fbWidth = static_cast<int>(data->DisplaySize.x * data->FramebufferScale.x);
    const int fbHeight = static_cast<int>(data->DisplaySize.y * data->FramebufferScale.y);
    if (fbWidth <= 0 || fbHeight <= 0) {
        return;
    }

    GLint lastTexture = 0;
    GLint lastPolygonMode[2] = {0, 0};
    GLint lastViewport[4] = {0, 0, 0, 0};
    GLint lastScissor[4] = {0, 0, 0, 0};
    GLint lastTexEnvMode = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &lastTexture);
    glGetIntegerv(GL_POLYGON_MODE, lastPolygonMode);
    glGetIntegerv(GL_VIEWPORT, lastViewport);
    glGetIntegerv(GL_SCISSOR_BOX, lastScissor);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &lastTexEnvMode);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TRANSFORM_BIT);

    SetupRenderState(data, fbWidth, fbHeight);

    const ImVec2 clipOffset = data->DisplayPos;
    const ImVec2 clipScale = data->FramebufferScale;
    for (int n = 0; n < data->CmdListsCount; ++n) {
        const ImDrawList* list = data->CmdLists[n];
        const auto* vertices = reinterpret_cast<const char*>(list->VtxBuffer.Data);
        const ImDrawIdx* indices = list->IdxBuffer.Data;
        glVertexPointer(2, GL_FLOAT, sizeof(ImDrawVert), vertices + offsetof(ImDrawVert, pos));
        glTexCoordPointer(2, GL_FLOAT, sizeof(ImDrawVert), vertices + offsetof(ImDrawVert, uv));
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(ImDrawVert),
                       vertices + offsetof(ImDrawVert, col));

        for (int c = 0; c < list->CmdBuffer.Size; ++c) {
            const ImDrawCmd& cmd = list->CmdBuffer[c];
            if (cmd.UserCallback != nullptr) {
                if (cmd.UserCallback == ImDrawCallback_ResetRenderState) {
                    PopMatrices();
                    SetupRenderState(data, fbWidth, fbHeight);
                } else {
                    cmd.UserCallback(list, &cmd);
                }
            } else {
                const ImVec4 clip((cmd.ClipRect.x - clipOffset.x) * clipScale.x,
                                  (cmd.ClipRect.y - clipOffset.y) * clipScale.y,
                                  (cmd.ClipRect.z - clipOffset.x) * clipScale.x,
                                  (cmd.ClipRect.w - clipOffset.y) * clipScale.y);
                if (clip.x < fbWidth && clip.y < fbHeight && clip.z >= 0.0f && clip.w >= 0.0f) {
                    glScissor(static_cast<int>(clip.x), static_cast<int>(fbHeight - clip.w),
                              static_cast<int>(clip.z - clip.x), static_cast<int>(clip.w - clip.y));
                    BindCommandTexture(cmd.GetTexID(), fontTexture);
                    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(cmd.ElemCount),
                                   sizeof(ImDrawIdx) == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT,
                                   indices);
                }
            }
            indices += cmd.ElemCount;
        }
    }

    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(lastTexture));
    PopMatrices();
    glPopAttrib();
    glPolygonMode(GL_FRONT, static_cast<GLenum>(lastPolygonMode[0]));
    glPolygonMode(GL_BACK, static_cast<GLenum>(lastPolygonMode[1]));
    glViewport(lastViewport[0], lastViewport[1], lastViewport[2], lastViewport[3]);
    glScissor(lastScissor[0], lastScissor[1], lastScissor[2], lastScissor[3]);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, lastTexEnvMode);
}

}  // namespace vesk
